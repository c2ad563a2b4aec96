#!/usr/bin/env python3
"""sambrel's terminal dialog under a pseudo-terminal, as a person meets it:
answered with the keyboard, stopped by signals, left behind by a closed
terminal, shown on a terminal too small for it or of a type nobody knows,
and racing an outside edit of its registry file; and the handheld's image
showing it from its own process, which signals end with sambrel, and which
gives the terminal back however it ends. Every case ends with the
terminal's settings as they were.

    terminal_test.py PATH/TO/sambrel [PATH/TO/sambrel.exe STANDIN_FOLDER]
"""
import fcntl
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time

SAMBREL = os.path.abspath(sys.argv[1])
IMAGE, STANDIN = (sys.argv[2], sys.argv[3]) if len(sys.argv) > 3 else (None, None)
passed = failed = 0


def result(name, ok, why=""):
    global passed, failed
    if ok:
        passed += 1
        print("ok   " + name)
    else:
        failed += 1
        print("FAIL %s: %s" % (name, why))


class Session:
    """sambrel on the slave side of a new pseudo-terminal."""

    def __init__(self, args, rows=30, cols=100, env=None, ignore_hup=False, controlling=False):
        self.args = args
        self.master, self.slave = pty.openpty()
        import struct
        fcntl.ioctl(self.slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))
        self.settings = termios.tcgetattr(self.slave)
        environment = dict(os.environ, TERM="xterm") if env is None else env

        def child_setup():
            if ignore_hup:
                signal.signal(signal.SIGHUP, signal.SIG_IGN)
            if controlling:  # the terminal's Ctrl-C signals sambrel, as a shell's does
                os.setsid()
                fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        self.proc = subprocess.Popen([SAMBREL] + args, stdin=self.slave, stdout=self.slave,
                                     stderr=subprocess.PIPE, env=environment, preexec_fn=child_setup)
        self.screen = b""

    def wait_for(self, text, seconds=10):
        end = time.time() + seconds
        while text.encode() not in self.screen and time.time() < end:
            ready, _, _ = select.select([self.master], [], [], 0.1)
            if ready:
                try:
                    self.screen += os.read(self.master, 65536)
                except OSError:
                    break
        return text.encode() in self.screen

    def send(self, keys):
        os.write(self.master, keys.encode())

    def finish(self, seconds=10):
        try:
            code = self.proc.wait(seconds)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            code = None
        # What it wrote before it ended is part of the screen.
        try:
            while select.select([self.master], [], [], 0)[0]:
                chunk = os.read(self.master, 65536)
                if not chunk:
                    break
                self.screen += chunk
        except OSError:
            pass  # the terminal is gone
        self.err = self.proc.stderr.read().decode(errors="replace")
        try:
            restored = termios.tcgetattr(self.slave) == self.settings
        except termios.error:
            restored = None  # the terminal itself is gone
        self.left = self.unread() if restored is not None else b""
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass
        return code, restored


    def unread(self):
        """What sambrel left unread in the terminal's input, for the shell
        after it to read (a line not yet ended included)."""
        settings = termios.tcgetattr(self.slave)
        raw = list(settings)
        raw[3] &= ~termios.ICANON
        raw[6] = list(raw[6])
        raw[6][termios.VMIN], raw[6][termios.VTIME] = 0, 0
        termios.tcsetattr(self.slave, termios.TCSANOW, raw)
        try:
            return os.read(self.slave, 4096)
        except BlockingIOError:
            return b""
        finally:
            termios.tcsetattr(self.slave, termios.TCSANOW, settings)


def wait_until(condition, seconds=10):
    """Whether condition came true, looked at as it changes."""
    end = time.time() + seconds
    while not condition():
        if time.time() > end:
            return False
        time.sleep(0.01)
    return True


def children(pid):
    """The processes whose parent is pid."""
    found = []
    for entry in os.listdir("/proc"):
        try:
            with open("/proc/%s/stat" % entry) as f:
                if int(f.read().rsplit(")", 1)[1].split()[1]) == pid:
                    found.append(int(entry))
        except (OSError, ValueError, IndexError):
            pass
    return found


def gone(pid):
    try:
        os.kill(pid, 0)
        return False
    except ProcessLookupError:
        return True


def shown_text(screen):
    """The text a screen's bytes show, in the order written, control
    sequences (cursor moves among them) taken as spaces."""
    text = re.sub(rb"\x1b(\[[0-?]*[ -/]*[@-~]|\][^\x07]*\x07|[()][0-9A-Za-z]|[=>78cDEHM])", b" ", screen)
    text = re.sub(rb"[\x00-\x1f\x7f]", b" ", text)
    return " ".join(text.decode(errors="replace").split())


work = tempfile.mkdtemp()
try:
    subprocess.run([SAMBREL, "--choose", "cancel", "--export", os.path.join(work, "base.reg")],
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)

    def fresh(name):
        path = os.path.join(work, name)
        shutil.copyfile(os.path.join(work, "base.reg"), path)
        return path

    # Enter presses the default button, COM3:; also in the image's dialog,
    # drawn by its own process.
    with_image = IMAGE is not None and os.path.exists(IMAGE)
    for prefix, image in [("", [])] + ([("image-", ["--image", IMAGE])] if with_image else []):
        path = fresh("enter.reg")
        s = Session(image + ["--registry", path])
        shown = s.wait_for("Autoscan")
        s.send("\r")
        s.wait_for("OK")
        s.send("\r")
        code, restored = s.finish()
        result(prefix + "enter-chooses-com3", shown and code == 1 and '"Port"="COM3:"' in open(path).read(),
               "exit %s: %s" % (code, s.err.strip()))
        result(prefix + "enter-terminal-restored", restored)

    # A signal during the dialog ends the run by that signal, with the
    # terminal given back and the file untouched: those a person sends, and
    # any other that ends a process.
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGUSR1, signal.SIGALRM):
        path = fresh("signal.reg")
        before = open(path, "rb").read()
        s = Session(["--registry", path])
        s.wait_for("Autoscan")
        s.proc.send_signal(sig)
        code, restored = s.finish()
        name = signal.Signals(sig).name
        result("%s-ends-by-signal" % name, code == -sig, "exit %s" % code)
        result("%s-file-untouched" % name, open(path, "rb").read() == before)
        result("%s-terminal-restored" % name, restored)

    # An outside edit while the dialog is open is never overwritten.
    path = fresh("stale.reg")
    s = Session(["--registry", path])
    s.wait_for("Autoscan")
    with open(path, "ab") as f:
        f.write(b"[HKEY_LOCAL_MACHINE\\Outside]\r\n")
    s.send("\r")
    s.wait_for("OK")
    s.send("\r")
    code, restored = s.finish()
    result("outside-edit-refused-75", code == 75 and "changed by another program" in s.err,
           "exit %s: %s" % (code, s.err.strip()))
    result("outside-edit-kept", b"Outside" in open(path, "rb").read())

    # The terminal closes under a run that ignores SIGHUP: the window goes
    # with it instead of spinning on a dead terminal.
    path = fresh("gone.reg")
    s = Session(["--registry", path], ignore_hup=True)
    s.wait_for("Autoscan")
    os.close(s.master)
    start = time.time()
    code, _ = s.finish(seconds=10)
    # Cancelled (1); or 74 when the summary then cannot be printed there.
    result("terminal-gone-ends-run", (code == 1 or (code == 74 and "standard output" in s.err))
           and time.time() - start < 5, "exit %s: %s" % (code, s.err.strip()))
    result("terminal-gone-nothing-saved", open(path, "rb").read() == open(os.path.join(work, "base.reg"), "rb").read())

    # A terminal too small for the dialog says so instead, whole, in the
    # room there is: wrapped to the window's width, or shortened for a
    # window too low for that.
    for name, rows, cols, notice in (
            ("small-terminal", 5, 20, r"Make the terminal at least \d+x\d+ for the dialog \(Escape cancels\)"),
            ("narrow-terminal", 8, 20, r"Make the terminal at least \d+x\d+ for the dialog \(Escape cancels\)"),
            ("wide-low-terminal", 1, 100, r"Make the terminal at least \d+x\d+ for the dialog \(Escape cancels\)"),
            ("low-terminal", 2, 20, r"At least \d+x\d+; Escape cancels")):
        s = Session([], rows=rows, cols=cols)
        noticed = s.wait_for("cancels")
        s.send("\x1b")
        code, restored = s.finish()
        text = shown_text(s.screen)
        result(name + "-notice-whole", noticed and code == 1 and re.search(notice, text) is not None,
               "exit %s, shown: %r" % (code, text))
        result(name + "-restored", restored)

    # No terminal type, one nobody knows, or one that cannot place the
    # cursor or clear the screen: a usage error naming --choose, and
    # nothing drawn.
    terminfo = os.path.join(work, "terminfo")
    entries = os.path.join(work, "entries.src")
    with open(entries, "w") as f:
        f.write("no-cup|cannot place the cursor, am, cols#80, lines#24, clear=\\E[H\\E[2J, cr=\\r, ind=\\n,\n"
                "no-clear|cannot clear the screen, am, cols#80, lines#24, cup=\\E[%i%p1%d;%p2%dH, cr=\\r, ind=\\n,\n")
    subprocess.run(["tic", "-o", terminfo, entries], check=True)
    for name, env in (("term-unset", {k: v for k, v in os.environ.items() if k != "TERM"}),
                      ("term-unknown", dict(os.environ, TERM="no-such-terminal")),
                      ("term-dumb", dict(os.environ, TERM="dumb")),
                      ("term-no-cup", dict(os.environ, TERM="no-cup", TERMINFO=terminfo)),
                      ("term-no-clear", dict(os.environ, TERM="no-clear", TERMINFO=terminfo))):
        s = Session([], env=env)
        code, restored = s.finish()
        result(name, code == 64 and "--choose" in s.err and not s.screen,
               "exit %s: %s; drawn: %r" % (code, s.err.strip(), s.screen[:200]))

    if with_image:
        # A signal to sambrel ends the image's process too, before the
        # terminal is given back.
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            path = fresh("image-signal.reg")
            before = open(path, "rb").read()
            s = Session(["--image", IMAGE, "--registry", path])
            s.wait_for("Autoscan")
            cell = children(s.proc.pid)
            s.proc.send_signal(sig)
            code, restored = s.finish()
            name = "image-" + signal.Signals(sig).name
            result(name + "-ends-both", code == -sig and len(cell) == 1 and all(gone(p) for p in cell),
                   "exit %s, the image's process %s" % (code, cell))
            result(name + "-file-untouched", open(path, "rb").read() == before)
            result(name + "-terminal-restored", restored)

        # The image's process crashes, types into the terminal (TIOCSTI,
        # which the filter forbids where the modes may be set), or leaves
        # the terminal's modes changed, with the terminal taken over: 70,
        # and the terminal given back.
        for deed, words in (("crash", "was ended by SIG"), ("type-into-terminal", "forbids (ioctl)"),
                            ("scramble-terminal", "forbids (ioctl)")):
            path = fresh("image-crash.reg")
            s = Session(["--image", IMAGE, "--registry", path],
                        env=dict(os.environ, TERM="xterm", LD_LIBRARY_PATH=STANDIN, SAMBREL_STANDIN=deed))
            code, restored = s.finish()
            result("image-%s-70" % deed, code == 70 and words in s.err, "exit %s: %s" % (code, s.err.strip()))
            result("image-%s-terminal-restored" % deed, restored)

        def standin(deed, **options):
            return Session(["--image", IMAGE, "--registry", fresh("image-standin.reg")],
                           env=dict(os.environ, TERM="xterm", LD_LIBRARY_PATH=STANDIN, SAMBREL_STANDIN=deed),
                           **options)

        # An image's process that stops answering: Ctrl-C still ends the
        # run (the terminal keeps it a signal for the image's dialog), the
        # process with it.
        s = standin("hang", controlling=True)
        s.wait_for("\x1b[?1049h")  # the dialog's screen: the process has set the terminal's modes
        lflag = 3
        set_up = wait_until(lambda: (termios.tcgetattr(s.slave)[lflag] & (termios.ISIG | termios.ICANON)) == termios.ISIG)
        cell = children(s.proc.pid)
        s.send("\x03")
        code, restored = s.finish()
        result("image-hang-ctrl-c", set_up and code == -signal.SIGINT and all(gone(p) for p in cell),
               "exit %s, the image's process %s" % (code, cell))
        result("image-hang-ctrl-c-terminal-restored", restored)

        # What the process made the terminal answer, even late, as over a
        # slow line, is not left for the shell: sambrel asks the terminal's
        # kind once the process has ended, and takes every answer up to
        # that one.
        s = standin("term-query")
        asked = s.wait_for("\x1b[6n") and s.wait_for("\x1b[c")
        s.send("\x1b[5;5R\x1b[?62;22c")
        code, restored = s.finish()
        result("image-answers-dropped", asked and code == 70 and not s.left,
               "exit %s, left for the shell: %r" % (code, s.left))

        # Modes the process set with escape sequences are set back, after
        # the device control string it left open is ended (CAN, then ST, as
        # ECMA-48 defines them) so that the terminal reads the rest.
        s = standin("term-modes")
        s.wait_for("\x1b[?5h\x1bP")
        code, restored = s.finish()
        after = s.screen.split(b"\x1b[?5h\x1bP")[-1]
        result("image-modes-set-back", code == 70 and after.startswith(b"\x18\x1b\\") and
               all(m in after for m in (b"\x1b[?1l\x1b>", b"\x1b[?1000l", b"\x1b[?5l")),
               "exit %s, after the process: %r" % (code, after[:200]))
finally:
    shutil.rmtree(work)

print("%d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)
