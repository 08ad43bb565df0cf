"""A loopback HTTP server outside Wine for the benches: it hands files to the kernel (sendfile), so
that the clients are what is measured.
    python3 loopback_file_server.py PORT PATH
PATH a folder: GET /<name> answers the file of that name in it (404 if there is none).
PATH a file: every GET answers that file."""
import http.server
import os
import sys

port, path = int(sys.argv[1]), sys.argv[2]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        wanted = path
        if os.path.isdir(path):
            wanted = os.path.join(path, os.path.basename(self.path.split("?")[0]))
        if not os.path.isfile(wanted):
            self.send_error(404)
            return
        with open(wanted, "rb") as f:
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(os.fstat(f.fileno()).st_size))
            self.end_headers()
            self.wfile.flush()
            self.connection.sendfile(f)

    def log_message(self, *args):
        pass


http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler).serve_forever()
