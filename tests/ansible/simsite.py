# Simulated sites for the collection's tests: recorder-sim children on loopback addresses of
# their own, and ansible runs with the collection from the source tree in a private folder.
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

# The account every simulated recorder takes: a password unlike the user name, so that
# Ansible's hiding of no_log values never hides the user name as well.
USER = "admin"
PASSWORD = "Kv7-sim-pw"


class Workspace:
    """A temporary folder holding the collection link, Ansible's home and the sites' files."""

    def __init__(self, source, bin_dir):
        self.source = source
        self.bin = bin_dir
        self.path = tempfile.mkdtemp(prefix="kst-ansible-")
        self.sims = []
        collections = os.path.join(self.path, "collections", "ansible_collections", "zantrel")
        os.makedirs(collections)
        os.symlink(os.path.join(source, "ansible"), os.path.join(collections, "recorders"))
        self.env = dict(os.environ, HOME=self.path, ANSIBLE_COLLECTIONS_PATH=os.path.join(self.path, "collections"),
                        ANSIBLE_LOCAL_TEMP=os.path.join(self.path, "tmp"), ANSIBLE_NOCOLOR="1",
                        ANSIBLE_HOST_KEY_CHECKING="0", ANSIBLE_RETRY_FILES_ENABLED="0",
                        ANSIBLE_PYTHON_INTERPRETER=sys.executable, PYTHONDONTWRITEBYTECODE="1")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for sim in self.sims:
            sim.terminate()
            sim.wait()
            sim.stdout.close()
        shutil.rmtree(self.path, ignore_errors=True)
        return False

    def file(self, name, text):
        path = os.path.join(self.path, name)
        with open(path, "w") as handle:
            handle.write(text)
        return path

    def tool(self, name):
        return os.path.join(self.bin, name)

    def start_sim(self, *args):
        """Starts a recorder-sim and returns its TCP and UDP endpoints from its ready line."""
        sim = subprocess.Popen([self.tool("recorder-sim"), "--user", USER, "--password", PASSWORD] + list(args),
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.sims.append(sim)
        line = sim.stdout.readline()  # blocks until both sockets are ready
        match = re.search(r"tcp=(\S+) udp=(\S+)", line)
        if not match:
            raise RuntimeError("recorder-sim did not start: %r" % line)
        return match.group(1), match.group(2)

    def ansible(self, module, args, check=False):
        """One module on localhost; returns (exit status, the module's result)."""
        cmd = ["ansible", "localhost", "-c", "local", "-o", "-m", "zantrel.recorders." + module,
               "-a", json.dumps(args)]
        if check:
            cmd.append("--check")
        run = subprocess.run(cmd, env=self.env, capture_output=True, text=True)
        # One line: "localhost | STATE => {json}"
        _, _, result = run.stdout.partition("=> ")
        try:
            return run.returncode, json.loads(result)
        except ValueError:
            raise AssertionError("no result from %s: %s %s" % (module, run.stdout, run.stderr))

    def playbook(self, playbook, inventory, *extra):
        return subprocess.run(["ansible-playbook", "-i", inventory, playbook] + list(extra), env=self.env,
                              capture_output=True, text=True)
