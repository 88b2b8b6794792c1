"""Release archives made by the tests, and a loopback HTTP server that serves
them (on 127.0.0.1, from a thread, stopped by the test that started it).

The data files are the real ones when ADDRNORM_REAL_DATA names a directory
that holds them, and otherwise small stand-ins that start with each table's
signature, as libpostal's files do (the double checks it at set-up).
"""
import http.server
import io
import os
import socketserver
import tarfile
import threading

REAL_DATA = os.environ.get("ADDRNORM_REAL_DATA") or None
RELEASE = "v1.0.0"
BASE = "libpostal_data.tar.gz"
CLASSIFIER = "language_classifier.tar.gz"
SIGNATURES = {
    "address_expansions/address_dictionary.dat": b"\xba" * 4,
    "numex/numex.dat": b"\xbb" * 4,
    "transliteration/transliteration.dat": b"\xaa" * 4,
    "language_classifier/language_classifier.dat": b"\xc0" * 4,
}
PARSER = "parser.tar.gz"
# The parser's model, fetched only with --parser: stand-ins only (the real
# files are 1.9 GB), signed as the double checks them.
PARSER_SIGNATURES = {
    "address_parser/address_parser_crf.dat": b"\xcb" * 4,
    "address_parser/address_parser_postal_codes.dat": b"\xcd" * 4,
    "address_parser/address_parser_phrases.dat": b"\xce" * 4,
    "address_parser/address_parser_vocab.trie": b"\xcf" * 4,
}
IN_ARCHIVE = {BASE: list(SIGNATURES)[:3], CLASSIFIER: list(SIGNATURES)[3:], PARSER: list(PARSER_SIGNATURES)}


def data_files(real=REAL_DATA):
    """{name: bytes} of the four data files: the real ones, or stand-ins."""
    if real:
        files = {}
        for name in SIGNATURES:
            with open(os.path.join(real, *name.split("/")), "rb") as found:
                files[name] = found.read()
        return files
    return {name: signature + b"stand-in for %s\n" % name.encode() * 50 for name, signature in SIGNATURES.items()}


def parser_files():
    """{name: bytes} of stand-ins for the parser's four files."""
    return {name: signature + b"stand-in for %s\n" % name.encode() * 50 for name, signature in PARSER_SIGNATURES.items()}


def tar_gz(members):
    """A gzipped tar of members: (name, bytes) for a file, (name, None) for a
    folder, (name, "symlink" or "hardlink", target) for a link."""
    out = io.BytesIO()
    # The fastest compression: the real data takes seconds even so.
    with tarfile.open(fileobj=out, mode="w:gz", compresslevel=1) as archive:
        for member in members:
            info = tarfile.TarInfo(member[0])
            info.mtime = 1500000000
            if len(member) == 3:
                info.type = tarfile.SYMTYPE if member[1] == "symlink" else tarfile.LNKTYPE
                info.linkname = member[2]
                archive.addfile(info)
            elif member[1] is None:
                info.type, info.mode = tarfile.DIRTYPE, 0o755
                archive.addfile(info)
            else:
                info.size, info.mode = len(member[1]), 0o644
                archive.addfile(info, io.BytesIO(member[1]))
    return out.getvalue()


def archive(name, files, extra=(), only=None):
    """One release archive of the files it holds (those in only, when given),
    its folders first, as upstream's are laid out, and extra members last."""
    names = [item for item in IN_ARCHIVE[name] if only is None or item in only]
    members = [(folder, None) for folder in sorted({item.split("/")[0] for item in IN_ARCHIVE[name]})]
    return tar_gz(members + [(item, files[item]) for item in names] + list(extra))


def release(files, base_extra=(), base_only=None):
    """{archive: bytes} of a release holding the files."""
    return {BASE: archive(BASE, files, base_extra, base_only), CLASSIFIER: archive(CLASSIFIER, files)}


def lay_out(folder, archives):
    """Lays archives out in a folder as a release source: folder/v1.0.0/NAME."""
    os.makedirs(os.path.join(folder, RELEASE), exist_ok=True)
    for name, body in archives.items():
        with open(os.path.join(folder, RELEASE, name), "wb") as out:
            out.write(body)
    return folder


class _Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a client that stops reading (a refused archive) is expected


class Server:
    """Serves {archive: bytes} under /v1.0.0/.  cut: {archive: n} sends only
    the first n bytes of a full Content-Length, then closes; stall: {archive:
    n} sends n bytes, then waits (at most STALL seconds) before closing."""

    STALL = 30

    def __init__(self):
        self.archives, self.cut, self.stall, self.requests = {}, {}, {}, []
        self.stalling = threading.Event()
        self.stop_stalling = threading.Event()
        owner = self

        class Handler(http.server.BaseHTTPRequestHandler):
            timeout = 20

            def do_GET(self):
                owner.requests.append(self.path)
                name = self.path.rsplit("/", 1)[-1]
                body = owner.archives.get(name) if self.path == "/%s/%s" % (RELEASE, name) else None
                if body is None:
                    self.send_error(404)
                    return
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                if name in owner.stall:
                    self.wfile.write(body[:owner.stall[name]])
                    self.wfile.flush()
                    owner.stalling.set()
                    owner.stop_stalling.wait(owner.STALL)
                elif name in owner.cut:
                    self.wfile.write(body[:owner.cut[name]])
                else:
                    self.wfile.write(body)
                self.close_connection = True

            def log_message(self, *args):
                pass

        self.server = _Server(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d" % self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, kwargs={"poll_interval": 0.05})
        self.thread.daemon = True
        self.thread.start()

    def close(self):
        self.stop_stalling.set()
        self.server.shutdown()
        self.server.server_close()
        self.thread.join(10)
        assert not self.thread.is_alive(), "the test server did not stop"


def snapshot(folder):
    """{relative path: bytes or link target} of everything under a folder."""
    found = {}
    for root, folders, names in os.walk(folder):
        for name in folders + names:
            path = os.path.join(root, name)
            relative = os.path.relpath(path, folder)
            if os.path.islink(path):
                found[relative] = "-> " + os.readlink(path)
            elif os.path.isfile(path):
                with open(path, "rb") as item:
                    found[relative] = item.read()
            else:
                found[relative] = None
    return found
