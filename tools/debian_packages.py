"""The Debian packages a generated table comes from, named in the table's header."""
import subprocess


def package_version(name):
    """The installed version of Debian package `name`, or "unknown"."""
    try:
        out = subprocess.run(["dpkg-query", "-W", "-f=${Version}", name],
                             capture_output=True, text=True, check=True)
    except (OSError, subprocess.CalledProcessError):
        return "unknown"
    return out.stdout.strip() or "unknown"
