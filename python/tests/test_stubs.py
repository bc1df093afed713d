"""The type stubs describe the package as it is: every public name, and each
function's parameters with their defaults."""

import ast
import inspect
import os

import kavu

STUB = os.path.join(os.path.dirname(kavu.__file__), "__init__.pyi")


def stub_definitions():
    tree = ast.parse(open(STUB).read())
    functions = {n.name: n for n in tree.body if isinstance(n, ast.FunctionDef)}
    classes = {n.name for n in tree.body if isinstance(n, ast.ClassDef)}
    assigned = {t.target.id for t in tree.body if isinstance(t, ast.AnnAssign)}
    return functions, classes, assigned


def test_every_public_name_has_a_stub():
    functions, classes, assigned = stub_definitions()
    assert set(kavu.__all__) <= set(functions) | classes | assigned


def test_stub_signatures_match_the_functions():
    functions, _, _ = stub_definitions()
    for name, node in functions.items():
        real = inspect.signature(getattr(kavu, name))
        args = node.args
        stub_params = [a.arg for a in args.posonlyargs + args.args]
        stub_params += ([f"*{args.vararg.arg}"] if args.vararg else [])
        stub_params += [a.arg for a in args.kwonlyargs]
        stub_params += ([f"**{args.kwarg.arg}"] if args.kwarg else [])
        real_params = [("*" if p.kind == p.VAR_POSITIONAL else "**" if p.kind == p.VAR_KEYWORD
                        else "") + p.name for p in real.parameters.values()]
        assert stub_params == real_params, name
        stub_defaults = [ast.literal_eval(d) for d in args.kw_defaults if d is not None]
        real_defaults = [p.default for p in real.parameters.values()
                         if p.kind == p.KEYWORD_ONLY and p.default is not p.empty]
        assert stub_defaults == real_defaults, name


def test_result_fields_match():
    tree = ast.parse(open(STUB).read())
    for node in tree.body:
        if isinstance(node, ast.ClassDef) and node.name.endswith("Result") and node.name != "CallResult":
            fields = [s.target.id for s in node.body if isinstance(s, ast.AnnAssign)]
            assert fields == list(getattr(kavu, node.name)._fields), node.name
