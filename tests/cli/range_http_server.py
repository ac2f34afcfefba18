"""A file server on 127.0.0.1 that honours "Range: bytes=N-", for the
download tests of scripts/get-models.sh (http.server alone ignores ranges,
so curl could not resume from it).

    range_http_server.py ROOT PORT_FILE LOG_FILE SECONDS

Picks a free port and writes it to PORT_FILE once it listens, appends
"<path> <range or ->" to LOG_FILE for each request, and stops by itself
after SECONDS.
"""
import http.server
import os
import re
import sys
import threading


def make_handler(root, log_path):
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            wanted = self.headers.get("Range")
            with open(log_path, "a") as log:
                log.write(f"{self.path} {wanted or '-'}\n")
            path = os.path.join(root, os.path.basename(self.path))
            if not os.path.isfile(path):
                self.send_error(404)
                return
            with open(path, "rb") as f:
                data = f.read()
            start = 0
            if wanted:
                m = re.fullmatch(r"bytes=(\d+)-", wanted)
                if not m:
                    self.send_error(400)
                    return
                start = int(m.group(1))
                if start >= len(data):
                    self.send_response(416)
                    self.send_header("Content-Range", f"bytes */{len(data)}")
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                self.send_response(206)
                self.send_header("Content-Range", f"bytes {start}-{len(data) - 1}/{len(data)}")
            else:
                self.send_response(200)
            self.send_header("Accept-Ranges", "bytes")
            self.send_header("Content-Length", str(len(data) - start))
            self.end_headers()
            self.wfile.write(data[start:])

        def log_message(self, *args):
            pass

    return Handler


def main():
    root, port_file, log_file, seconds = sys.argv[1:5]
    open(log_file, "w").close()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), make_handler(root, log_file))
    tmp = port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(tmp, port_file)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    threading.Event().wait(float(seconds))
    server.shutdown()


if __name__ == "__main__":
    main()
