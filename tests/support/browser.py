#!/usr/bin/env python3
"""Opens a page in headless Chromium through chromedriver, runs an asynchronous script in
it once the page has loaded, and prints what the script hands back. Waits in real time, so
that decoding and media loading finish however busy the machine is.

    browser.py PAGE.html SCRIPT.js
"""
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

page, script = os.path.abspath(sys.argv[1]), open(sys.argv[2]).read()
with socket.socket() as s:
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]


def call(method, path, body=None):
    request = urllib.request.Request(
        f"http://127.0.0.1:{port}{path}", method=method,
        data=None if body is None else json.dumps(body).encode(),
        headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(request, timeout=120) as response:
        return json.load(response)["value"]


with tempfile.TemporaryDirectory() as profile:
    driver = subprocess.Popen(["chromedriver", f"--port={port}"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    try:
        for _ in range(200):
            try:
                call("GET", "/status")
                break
            except OSError:
                time.sleep(0.05)
        options = {"args": ["--headless", "--no-sandbox", "--disable-gpu",
                            f"--user-data-dir={profile}"]}
        session = call("POST", "/session", {"capabilities": {
            "alwaysMatch": {"goog:chromeOptions": options}}})["sessionId"]
        call("POST", f"/session/{session}/timeouts", {"script": 90000})
        call("POST", f"/session/{session}/url", {"url": "file://" + page})
        print(call("POST", f"/session/{session}/execute/async", {"script": script, "args": []}))
        call("DELETE", f"/session/{session}")
    finally:
        driver.kill()
