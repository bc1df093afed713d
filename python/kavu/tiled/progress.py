"""The progress interface of long runs: progress(total, desc) gives an object
with update(n=1) and close(); the command line passes tqdm bars on a terminal."""


def no_progress(total, desc):
    class Quiet:
        def update(self, n=1):
            pass

        def close(self):
            pass

    return Quiet()
