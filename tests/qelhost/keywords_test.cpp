// Keyword processing: name matching (case, prefixes, exact names first, unknown,
// ambiguous, duplicate), the four flag words, presence flags and string copies.
#include "fake_module.h"
#include "host_session.h"

#include <cstring>

namespace {

struct fake_kw {
  int _free;
  int32_t count;
  int32_t long_flag;
  int name_present;
  QEL_STRING name;
  QEL_VPTR mask;
  QEL_VPTR max_out;
  double scale;
  uint32_t start;
  int32_t hidden;
};

#define KW(name, type, mask, flags, field) \
  {name, type, mask, flags, 0, QEL_KW_OFFSETOF(fake_kw, field)}
const QEL_KW_PAR kPars[] = {
    KW("COUNT", QEL_TYP_LONG, 1, 0, count),
    KW("HIDDEN", QEL_TYP_LONG, 2, QEL_KW_ZERO, hidden),
    KW("LONG", QEL_TYP_LONG, 1, QEL_KW_ZERO, long_flag),
    {"LONG_NAME", QEL_TYP_STRING, 1, QEL_KW_ZERO, QEL_KW_OFFSETOF(fake_kw, name_present),
     QEL_KW_OFFSETOF(fake_kw, name)},
    KW("MASK", 0, 1, QEL_KW_INPUT_VAR, mask),
    KW("MAX_OUT", 0, 1, QEL_KW_OUTPUT_VAR, max_out),
    KW("SCALE", QEL_TYP_DOUBLE, 1, QEL_KW_ZERO, scale),
    KW("START", QEL_TYP_ULONG, 1, 0, start),
    {nullptr, 0, 0, 0, 0, 0},
};
#undef KW

class Keywords : public fake::HostTest {
 protected:
  // Runs FAKE_RUN with `keywords`; the routine presets every field with a
  // marker, processes its keywords with mask 1 and keeps the structure.
  void process(const std::vector<qelhost::Keyword> &keywords) {
    fake::body = [this](int argc, QEL_VPTR *argv, QEL_KW_ARGS *argk) {
      kw = {};
      kw._free = 99;
      kw.count = 4;
      kw.long_flag = 99;
      kw.name_present = 99;
      kw.name.slen = 99;
      kw.mask = kw.max_out = reinterpret_cast<QEL_VPTR>(1);
      kw.scale = 99;
      kw.start = 7;
      kw.hidden = 99;
      QEL_KWProcessByOffset(argc, argv, argk, kPars, nullptr, 1, &kw);
      name = kw.name.s ? std::string(kw.name.s, static_cast<size_t>(kw.name.slen)) : "";
      if (kw._free) QEL_KWFree();
      return QEL_GettmpLong(0);
    };
    qelhost::release(qelhost::call("FAKE_RUN", {}, keywords));
  }
  fake_kw kw{};
  std::string name;
  kavu_test::Vars vars;
};

TEST_F(Keywords, AbsentKeywordsKeepPresetDefaultsOrReadZero) {
  process({});
  EXPECT_EQ(kw.count, 4) << "flag word 0 keeps the routine's default";
  EXPECT_EQ(kw.start, 7u);
  EXPECT_EQ(kw.long_flag, 0);
  EXPECT_EQ(kw.scale, 0.0);
  EXPECT_EQ(kw.name_present, 0);
  EXPECT_EQ(kw.name.slen, 0);
  EXPECT_EQ(kw.name.s, nullptr);
  EXPECT_EQ(kw.mask, nullptr);
  EXPECT_EQ(kw.max_out, nullptr);
  EXPECT_EQ(kw.hidden, 99) << "an entry outside the mask is not touched";
  EXPECT_EQ(kw._free, 0);
}

TEST_F(Keywords, ExactNameWinsOverLongerNamesItPrefixes) {
  process({{"LONG", vars.lng("l", 1)}});
  EXPECT_EQ(kw.long_flag, 1);
  EXPECT_EQ(kw.name_present, 0);
  process({{"LONG_", vars.str("n", "x")}});
  EXPECT_EQ(kw.long_flag, 0);
  EXPECT_EQ(name, "x");
  process({{"co", vars.lng("c", 12)}, {"ST", vars.lng("s", 3)}});
  EXPECT_EQ(kw.count, 12);
  EXPECT_EQ(kw.start, 3u);
}

TEST_F(Keywords, UnknownAmbiguousDuplicateAndMaskedOutAreRefused) {
  process({});  // installs the body
  QEL_VPTR one = vars.lng("one", 1);
  auto e = fake::call_error("FAKE_RUN", {}, {{"lon", one}});
  EXPECT_EQ(e.name, "QEL_M_KEYWORD_AMBIGUOUS");
  EXPECT_EQ(e.text, "FAKE_RUN: Ambiguous keyword abbreviation: LON.");
  e = fake::call_error("FAKE_RUN", {}, {{"M", one}});
  EXPECT_EQ(e.name, "QEL_M_KEYWORD_AMBIGUOUS");
  e = fake::call_error("FAKE_RUN", {}, {{"COUNTS", one}});
  EXPECT_EQ(e.name, "QEL_M_KEYWORD_UNKNOWN");
  EXPECT_EQ(e.text, "FAKE_RUN: Keyword COUNTS not allowed.");
  e = fake::call_error("FAKE_RUN", {}, {{"HIDDEN", one}});
  EXPECT_EQ(e.text, "FAKE_RUN: Keyword HIDDEN not allowed.") << "outside the mask";
  e = fake::call_error("FAKE_RUN", {}, {{"SCALE", one}, {"sc", one}});
  EXPECT_EQ(e.name, "QEL_M_KEYWORD_DUPLICATE");
  EXPECT_EQ(e.text, "FAKE_RUN: Duplicate keyword SCALE.");
}

TEST_F(Keywords, ValueKeywordsMustBeDefinedScalarsOfAConvertibleType) {
  process({});
  auto e = fake::call_error("FAKE_RUN", {}, {{"COUNT", vars.array("arr", std::vector<int32_t>{1}, {1})}});
  EXPECT_EQ(e.name, "QEL_M_NOTSCALAR");
  EXPECT_EQ(e.text, "FAKE_RUN: Expression must be a scalar in this context: ARR.");
  e = fake::call_error("FAKE_RUN", {}, {{"COUNT", vars.str("s", "3")}});
  EXPECT_EQ(e.name, "QEL_M_TYPECONV");
  e = fake::call_error("FAKE_RUN", {}, {{"COUNT", vars.undefined("u")}});
  EXPECT_EQ(e.text, "FAKE_RUN: Variable is undefined: U.");
  // A string copied before a later keyword failed is reclaimed with the call.
  e = fake::call_error("FAKE_RUN", {},
                       {{"LONG_NAME", vars.str("t", "f")}, {"START", vars.str("s2", "x")}});
  EXPECT_EQ(e.name, "QEL_M_TYPECONV");
  EXPECT_EQ(qelhost::live_temporaries(), 0);
}

}  // namespace
