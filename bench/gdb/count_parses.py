# Counts, in one run of aelfdump under gdb, the parses of a linker script:
# all of them, those the edits make (inside applyFixes or fixLinkError),
# and the rounds that edit. Appends "TOTAL EDITING ROUNDS" to $PARSES_LOG
# and puts the program's exit status in $PARSES_LOG.status.
import gdb, os
class Count(gdb.Breakpoint):
    def __init__(self, location):
        super().__init__(location, internal=True)
        self.total = 0
        self.editing = 0
    def stop(self):
        self.total += 1
        f = gdb.newest_frame().older()
        while f is not None:
            n = f.name() or ""
            if "applyFixes" in n or "fixLinkError" in n:
                self.editing += 1
                break
            f = f.older()
        return False
class Rounds(gdb.Breakpoint):
    def __init__(self, location):
        super().__init__(location, internal=True)
        self.n = 0
    def stop(self):
        self.n += 1
        return False
parses = Count("pakforge::ldscript::parseScript")
rounds = Rounds("pakforge::fix::applyFixes")
repairs = Rounds("pakforge::fix::fixLinkError")
def done(event):
    with open(os.environ["PARSES_LOG"], "a") as log:
        log.write("%d %d %d\n" % (parses.total, parses.editing, rounds.n + repairs.n))
    code = getattr(event, "exit_code", 0)  # absent when it exits 0
    with open(os.environ["PARSES_LOG"] + ".status", "w") as s:
        s.write(str(code))
gdb.events.exited.connect(done)
