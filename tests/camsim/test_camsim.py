#!/usr/bin/env python3
"""The camera simulator through HTTP and RTSP on 127.0.0.1."""

import concurrent.futures
import hashlib
import http.client
import json
import os
import re
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

CAMSIM = os.environ.get("CAMSIM", "camsim")
USER, PASSWORD = "admin", "s3cret"
CAL = "/ISAPI/Thermal/channels/2/fusionCalibration"
CAPS = CAL + "/capabilities"


def calibration_xml(level, hscale, vscale, hbias, vbias):
    return (f"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FusionCalibration>\n"
            f"  <distanceLevel>{level}</distanceLevel>\n"
            f"  <ScaleRatio>\n    <horizontal>{hscale}</horizontal>\n"
            f"    <vertical>{vscale}</vertical>\n  </ScaleRatio>\n"
            f"  <Bias>\n    <horizontal>{hbias}</horizontal>\n"
            f"    <vertical>{vbias}</vertical>\n  </Bias>\n</FusionCalibration>\n").encode()


def leaf(text, path):
    m = re.search(r"<%s>\s*(-?\d+)\s*</%s>" % (path, path), text)
    return int(m.group(1)) if m else None


def calibration_values(text):
    sr = re.search(r"<ScaleRatio>(.*?)</ScaleRatio>", text, re.S).group(1)
    bias = re.search(r"<Bias>(.*?)</Bias>", text, re.S).group(1)
    return (leaf(text, "distanceLevel"), leaf(sr, "horizontal"), leaf(sr, "vertical"),
            leaf(bias, "horizontal"), leaf(bias, "vertical"))


STARTED = []


def tearDownModule():
    # A failed test must not leave its simulator running.
    for proc in STARTED:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


class Camsim:
    """One simulator process on a free loopback port."""

    def __init__(self, *args):
        self.proc = subprocess.Popen(
            [CAMSIM, "--port", "0", "--user", USER, "--password", PASSWORD, *args],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        STARTED.append(self.proc)
        first = self.proc.stdout.readline()
        m = re.search(r"127\.0\.0\.1 port (\d+)", first)
        if not m:
            self.proc.kill()
            raise AssertionError("unexpected first line: %r (%s)" % (first, self.proc.stderr.read()))
        self.port = int(m.group(1))
        self.rtsp_port = None
        if "--rtsp-port" in args or "--rtsp-codec" in args:
            second = self.proc.stdout.readline()
            m = re.search(r"^camsim rtsp on 127\.0\.0\.1 port (\d+) codec \w+$", second)
            if not m:
                self.proc.kill()
                raise AssertionError("unexpected second line: %r" % second)
            self.rtsp_port = int(m.group(1))

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        # Both pipes are read while waiting: a sanitizer's report filling one
        # would otherwise hold the simulator up, and it is shown on a failure.
        self.log, errors = self.proc.communicate(timeout=10)
        if self.proc.returncode not in (0, -signal.SIGKILL):
            sys.stderr.write(errors[-30000:])
        return self.proc.returncode

    def plain(self, method, path, body=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        conn.request(method, path, body=body)
        resp = conn.getresponse()
        data = resp.read()
        conn.close()
        return resp.status, data

    def state(self):
        status, data = self.plain("GET", "/camsim/state")
        assert status == 200
        return json.loads(data)

    def faults(self, text):
        return self.plain("PUT", "/camsim/faults", text.encode())


class DigestClient:
    """A keep-alive Digest MD5 client that reuses its nonce like a streaming client does."""

    def __init__(self, port, user=USER, password=PASSWORD):
        self.conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        self.user, self.password = user, password
        self.challenge = None
        self.nc = 0

    def close(self):
        self.conn.close()

    def _authorization(self, method, path):
        c = self.challenge
        self.nc += 1
        nc = "%08x" % self.nc
        cnonce = os.urandom(8).hex()
        md5 = lambda s: hashlib.md5(s.encode()).hexdigest()
        ha1 = md5("%s:%s:%s" % (self.user, c["realm"], self.password))
        ha2 = md5("%s:%s" % (method, path))
        response = md5("%s:%s:%s:%s:auth:%s" % (ha1, c["nonce"], nc, cnonce, ha2))
        return ('Digest username="%s", realm="%s", nonce="%s", uri="%s", algorithm=MD5, '
                'response="%s", opaque="%s", qop=auth, nc=%s, cnonce="%s"'
                % (self.user, c["realm"], c["nonce"], path, response, c.get("opaque", ""),
                   nc, cnonce))

    def _send(self, method, path, body):
        headers = {}
        if self.challenge:
            headers["Authorization"] = self._authorization(method, path)
        self.conn.request(method, path, body=body, headers=headers)
        resp = self.conn.getresponse()
        return resp, resp.read()

    def open(self, path):
        """GETs path and returns the response unread once authenticated."""
        for _ in range(2):
            headers = {}
            if self.challenge:
                headers["Authorization"] = self._authorization("GET", path)
            self.conn.request("GET", path, headers=headers)
            resp = self.conn.getresponse()
            if resp.status != 401:
                return resp
            header = resp.getheader("WWW-Authenticate")
            resp.read()
            self.challenge = dict(re.findall(r'(\w+)="?([^",]*)"?', header))
            self.nc = 0
        return resp

    def request(self, method, path, body=None, retry=True):
        """Returns (status, body, WWW-Authenticate of the last 401 or None)."""
        resp, data = self._send(method, path, body)
        header = resp.getheader("WWW-Authenticate")
        if resp.status == 401 and retry and header:
            self.challenge = dict(re.findall(r'(\w+)="?([^",]*)"?', header))
            self.nc = 0
            resp, data = self._send(method, path, body)
            header = resp.getheader("WWW-Authenticate")
        return resp.status, data, header if resp.status == 401 else None


class CamsimCase(unittest.TestCase):
    args = ()

    def setUp(self):
        self.sim = Camsim(*self.args)
        self.client = DigestClient(self.sim.port)

    def tearDown(self):
        self.client.close()
        self.assertEqual(self.sim.stop(), 0)

    def put_calibration(self, body):
        status, data, _ = self.client.request("PUT", CAL, body)
        return status, data.decode()


class DigestTest(CamsimCase):
    args = ("--nonce-timeout", "1")

    def test_challenge_is_md5_digest_only(self):
        status, _ = self.sim.plain("GET", "/camnet/device")
        self.assertEqual(status, 401)
        conn = http.client.HTTPConnection("127.0.0.1", self.sim.port, timeout=10)
        conn.request("GET", "/camnet/device")
        header = conn.getresponse().getheader("WWW-Authenticate")
        conn.close()
        self.assertTrue(header.startswith("Digest "), header)
        self.assertRegex(header.lower(), r'algorithm="?md5')
        self.assertNotIn("Basic", header)

    def test_good_and_wrong_credentials(self):
        status, data, _ = self.client.request("GET", "/camnet/device")
        self.assertEqual(status, 200)
        self.assertIn(b"<DeviceInfo>", data)
        for user, password in ((USER, "wrong"), ("other", PASSWORD)):
            bad = DigestClient(self.sim.port, user, password)
            status, _, header = bad.request("GET", "/camnet/device")
            bad.close()
            self.assertEqual(status, 401)
            self.assertNotRegex(header.lower(), r'stale="?true')

    def test_replayed_count_is_stale_and_every_challenge_is_new(self):
        # Two clients challenged in the same instant hold nonces of their own,
        # so neither's count can collide with the other's.
        other = DigestClient(self.sim.port)
        self.assertEqual(self.client.request("GET", CAL)[0], 200)
        self.assertEqual(other.request("GET", CAL)[0], 200)
        self.assertNotEqual(self.client.challenge["nonce"], other.challenge["nonce"])
        other.close()
        # The right answer on a count already taken is stale, not wrong.
        self.client.nc -= 1
        status, _, header = self.client.request("GET", CAL, retry=False)
        self.assertEqual(status, 401)
        self.assertRegex(header.lower(), r'stale="?true')
        self.assertEqual(self.client.request("GET", CAL)[0], 200)
        self.assertEqual(self.sim.state()["requests"].get("badCredentials", 0), 0)

    def test_expired_nonce_is_stale_and_a_fresh_one_works(self):
        self.assertEqual(self.client.request("GET", CAL)[0], 200)
        time.sleep(2.2)
        status, _, header = self.client.request("GET", CAL, retry=False)
        self.assertEqual(status, 401)
        self.assertRegex(header.lower(), r'stale="?true')
        self.assertEqual(self.client.request("GET", CAL)[0], 200)


class IsapiTest(CamsimCase):
    def test_reads_calibration_and_capabilities(self):
        status, data, _ = self.client.request("GET", CAL)
        self.assertEqual(status, 200)
        self.assertEqual(calibration_values(data.decode()), (1, 64, 64, 100, 100))
        status, data, _ = self.client.request("GET", CAPS)
        self.assertEqual(status, 200)
        text = data.decode()
        self.assertRegex(text, r'<distanceLevel min="1" max="10" default="1"/>')
        self.assertEqual(len(re.findall(r'min="1" max="128" default="64"', text)), 2)
        self.assertEqual(len(re.findall(r'min="0" max="200" default="100"', text)), 2)

    def test_good_put_is_stored_and_changes_alignment(self):
        before = self.sim.state()["alignmentError"]
        status, text = self.put_calibration(calibration_xml(6, 72, 72, 82, 112))
        self.assertEqual((status, leaf(text, "statusCode")), (200, 1))
        _, data, _ = self.client.request("GET", CAL)
        self.assertEqual(calibration_values(data.decode()), (6, 72, 72, 82, 112))
        state = self.sim.state()
        self.assertEqual(state["calibration"]["horShift"], 82)
        self.assertLess(state["alignmentError"], 0.001)
        self.assertGreater(before, 1)
        # Every single step away from the aligned setting shows as an error.
        for values in ((5, 72, 72, 82, 112), (6, 73, 72, 82, 112), (6, 72, 72, 82, 113)):
            self.put_calibration(calibration_xml(*values))
            self.assertGreater(self.sim.state()["alignmentError"], 0.5, values)

    def test_refused_puts_keep_the_values_and_say_why(self):
        cases = [
            (calibration_xml(11, 64, 64, 100, 100), 6, "distanceLevel"),
            (calibration_xml(4, 0, 64, 100, 100), 6, "ScaleRatio/horizontal"),
            (calibration_xml(4, 64, 64, 100, 201), 6, "Bias/vertical"),
            (calibration_xml(4, 64, 64, 100, 100).replace(b"<Bias>", b"<Bais>")
             .replace(b"</Bias>", b"</Bais>"), 6, "Bias"),
            (calibration_xml(4, 64, 64, "1x", 100), 6, "Bias/horizontal"),
            (b"<FusionCalibration><distanceLevel>4</distanceLevel>", 5, "malformed"),
            (b"<?xml version=\"1.0\"?><!DOCTYPE FusionCalibration [<!ENTITY a \"5\">]>"
             b"<FusionCalibration><distanceLevel>&a;</distanceLevel></FusionCalibration>", 6,
             "document type"),
            (b"<ResponseStatus/>", 6, "FusionCalibration"),
        ]
        for body, code, reason in cases:
            status, text = self.put_calibration(body)
            self.assertEqual(status, 400, body)
            self.assertEqual(leaf(text, "statusCode"), code, text)
            self.assertIn(reason, re.search(r"<statusString>(.*)</statusString>", text).group(1))
        _, data, _ = self.client.request("GET", CAL)
        self.assertEqual(calibration_values(data.decode()), (1, 64, 64, 100, 100))

    def test_other_requests_get_a_response_status(self):
        for method, path, expected in (("GET", "/ISAPI/Thermal/channels/1/fusionCalibration", 404),
                                       ("PUT", CAPS, 405), ("DELETE", CAL, 405)):
            status, data, _ = self.client.request(method, path, b"" if method == "PUT" else None)
            self.assertEqual(status, expected, path)
            self.assertIn(b"<ResponseStatus>", data)
            self.assertNotEqual(leaf(data.decode(), "statusCode"), 1)

    def test_oversized_body_is_refused(self):
        body = calibration_xml(4, 64, 64, 100, 100) + b" " * (64 * 1024)
        status, _, _ = self.client.request("PUT", CAL, body)
        self.assertEqual(status, 413)


def std_config(client, command, condition, payload=b"", output_size=0):
    path = "/camnet/stdconfig/%d?conditionSize=%d&outputSize=%d" % (
        command, len(condition), output_size)
    status, data, _ = client.request("POST", path, condition + payload)
    return status, data


def switch_record(state):
    return struct.pack("<IBB", 732, 1, state) + bytes(726)


class StdConfigTest(CamsimCase):
    channel = struct.pack("<i", 2)

    def test_switch_round_trip(self):
        status, data = std_config(self.client, 6768, self.channel, output_size=732)
        self.assertEqual(status, 200)
        self.assertEqual(len(data), 732)
        self.assertEqual(struct.unpack_from("<I", data)[0], 732)
        self.assertEqual(data[5], 2)
        for state, on in ((1, True), (2, False), (1, True)):
            self.assertEqual(std_config(self.client, 6769, self.channel, switch_record(state)),
                             (200, b""))
            self.assertEqual(std_config(self.client, 6768, self.channel, output_size=732)[1][5],
                             state)
            self.assertEqual(self.sim.state()["fusion"], on)

    def test_output_never_exceeds_the_asked_size(self):
        status, data = std_config(self.client, 6768, self.channel, output_size=10)
        self.assertEqual((status, len(data)), (200, 10))

    def test_bad_requests(self):
        self.assertEqual(std_config(self.client, 6770, self.channel)[0], 404)
        self.assertEqual(std_config(self.client, 6768, struct.pack("<i", 1), output_size=732)[0],
                         400)
        self.assertEqual(std_config(self.client, 6769, self.channel, switch_record(3))[0], 400)
        self.assertEqual(std_config(self.client, 6769, self.channel, switch_record(1)[:700])[0],
                         400)
        self.assertFalse(self.sim.state()["fusion"])

    def test_query_values_are_checked(self):
        # Missing, unreadable or negative sizes, and a condition longer than the body.
        for query, body in (("conditionSize=4", self.channel),
                            ("outputSize=732", self.channel),
                            ("conditionSize=x&outputSize=732", self.channel),
                            ("conditionSize=-4&outputSize=732", self.channel),
                            ("conditionSize=4&outputSize=-1", self.channel),
                            ("conditionSize=4&outputSize=732", self.channel[:2])):
            status, _, _ = self.client.request("POST", "/camnet/stdconfig/6768?" + query, body)
            self.assertEqual(status, 400, query)


class PersistenceTest(unittest.TestCase):
    def test_state_survives_a_restart(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "state.json")
            sim = Camsim("--state", path)
            client = DigestClient(sim.port)
            status, _, _ = client.request("PUT", CAL, calibration_xml(7, 70, 60, 90, 110))
            self.assertEqual(status, 200)
            self.assertEqual(std_config(client, 6769, StdConfigTest.channel, switch_record(1))[0],
                             200)
            client.close()
            self.assertEqual(sim.stop(), 0)
            with open(path) as f:
                self.assertEqual(json.load(f)["calibration"]["distanceLevel"], 7)
            self.assertEqual(os.listdir(tmp), ["state.json"])

            sim = Camsim("--state", path)
            client = DigestClient(sim.port)
            _, data, _ = client.request("GET", CAL)
            self.assertEqual(calibration_values(data.decode()), (7, 70, 60, 90, 110))
            self.assertTrue(sim.state()["fusion"])
            client.close()
            self.assertEqual(sim.stop(), 0)

    def test_kill_during_writes_leaves_a_whole_file(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "state.json")
            for attempt in range(6):
                sim = Camsim("--state", path)
                client = DigestClient(sim.port)
                # The file exists once the first write has been answered; only
                # then is the kill armed. It lands while later writes are in
                # flight, after a different number of answered ones each time.
                status, _, _ = client.request("PUT", CAL, calibration_xml(1, 64, 64, 100, 100))
                self.assertEqual(status, 200)
                count = 1 + 3 * attempt
                answered = threading.Semaphore(0)

                def kill_after(proc=sim.proc, answered=answered, count=count):
                    for _ in range(count):
                        answered.acquire()
                    proc.kill()
                killer = threading.Thread(target=kill_after)
                killer.start()
                level, writes = 1, 0
                try:
                    while True:
                        level = level % 10 + 1
                        client.request("PUT", CAL, calibration_xml(level, 64, 64, 100, 100))
                        writes += 1
                        answered.release()
                except (ConnectionError, http.client.HTTPException):
                    pass
                # Should the writes have ended before the kill was due, the
                # killer must not wait for them.
                for _ in range(count):
                    answered.release()
                killer.join()
                self.assertGreaterEqual(writes, count)
                self.assertEqual(sim.stop(), -signal.SIGKILL)
                client.close()
                with open(path) as f:
                    self.assertIn(json.load(f)["calibration"]["distanceLevel"], range(1, 11))

    def test_broken_state_file_is_refused(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "state.json")
            with open(path, "w") as f:
                f.write('{"calibration": {"distanceLevel": ')
            proc = subprocess.run([CAMSIM, "--port", "0", "--state", path],
                                  capture_output=True, text=True, timeout=10)
            self.assertNotEqual(proc.returncode, 0)
            self.assertIn("state", proc.stderr)


class FaultsTest(CamsimCase):
    def test_refuse_login(self):
        self.assertEqual(self.sim.faults("refuse-login=1")[0], 200)
        self.assertEqual(self.client.request("GET", "/camnet/device")[0], 401)
        self.assertEqual(self.sim.faults("refuse-login=0")[0], 200)
        self.assertEqual(self.client.request("GET", "/camnet/device")[0], 200)

    def test_put_status(self):
        self.sim.faults("put-status=3")
        status, text = self.put_calibration(calibration_xml(4, 64, 64, 100, 100))
        self.assertEqual(leaf(text, "statusCode"), 3)
        self.assertEqual(self.sim.state()["calibration"]["distanceLevel"], 1)

    def test_malformed_oversized_and_missing_caps(self):
        self.sim.faults("malformed-xml=1")
        _, data, _ = self.client.request("GET", CAL)
        self.assertNotIn(b"</FusionCalibration>", data)
        self.sim.faults("malformed-xml=0 oversize-reply=1")
        _, data, _ = self.client.request("GET", CAL)
        self.assertGreater(len(data), 1024 * 1024)
        self.sim.faults("oversize-reply=0 omit-caps=1")
        _, data, _ = self.client.request("GET", CAPS)
        self.assertIn(b"<FusionCalibrationCap>", data)
        self.assertNotIn(b"min=", data)

    def test_delay(self):
        self.client.request("GET", CAL)
        self.sim.faults("delay=600")
        start = time.monotonic()
        self.assertEqual(self.client.request("GET", CAL)[0], 200)
        self.assertGreaterEqual(time.monotonic() - start, 0.55)

    def test_drop_connection_midway(self):
        self.client.request("GET", CAL)
        self.sim.faults("drop-connection=1")
        with self.assertRaises((http.client.IncompleteRead, ConnectionError)):
            self.client.request("GET", CAL)

    def test_bad_fault_text_and_flags(self):
        self.assertEqual(self.sim.faults("no-such-fault=1")[0], 400)
        self.assertEqual(self.sim.faults("delay=soon")[0], 400)
        sim = Camsim("--refuse-login", "--put-status", "7", "--delay", "5")
        try:
            self.assertEqual(sim.state()["faults"],
                             dict(self.sim.state()["faults"], **{"refuse-login": True,
                                                                 "put-status": 7, "delay": 5}))
        finally:
            self.assertEqual(sim.stop(), 0)


def read_parts(resp, count):
    """Reads count parts of a multipart stream and checks each one's framing."""
    boundary = re.search(r"boundary=(\S+)", resp.getheader("Content-Type")).group(1)
    parts = []
    for _ in range(count):
        line = resp.readline()
        assert line == b"--%s\r\n" % boundary.encode(), line
        headers = {}
        while True:
            line = resp.readline()
            if line == b"\r\n":
                break
            name, value = line.decode().split(":", 1)
            headers[name.strip().lower()] = value.strip()
        assert headers["content-type"] == "image/jpeg", headers
        body = resp.read(int(headers["content-length"]))
        assert resp.read(2) == b"\r\n"
        parts.append(body)
    return parts


def frames_once_still(sim, still=0.25, timeout=10.0):
    """The count of rendered frames once it has held for `still` seconds; None if it never does."""
    deadline = time.monotonic() + timeout
    last, since = sim.state()["requests"]["framesRendered"], time.monotonic()
    while time.monotonic() < deadline:
        time.sleep(0.05)
        count = sim.state()["requests"]["framesRendered"]
        if count != last:
            last, since = count, time.monotonic()
        elif time.monotonic() - since >= still:
            return count
    return None


class StreamTest(CamsimCase):
    args = ("--fps", "50")

    def open_stream(self, channel):
        return self.client.open("/camnet/channels/%d/stream" % channel)

    def test_both_channels_send_jpeg_parts(self):
        for channel in (1, 2):
            resp = self.open_stream(channel)
            self.assertEqual(resp.status, 200)
            self.assertTrue(resp.getheader("Content-Type").startswith("multipart/x-mixed-replace"))
            for jpeg in read_parts(resp, 3):
                self.assertTrue(jpeg.startswith(b"\xff\xd8") and jpeg.endswith(b"\xff\xd9"))
            self.client.close()
            self.client = DigestClient(self.sim.port)

    def test_frames_are_drawn_only_while_watched(self):
        resp = self.open_stream(1)
        read_parts(resp, 2)
        self.client.close()
        # However long the simulator takes to notice the viewer left, it
        # then stops drawing, and stays stopped.
        before = frames_once_still(self.sim)
        self.assertIsNotNone(before, "frames are still drawn after the viewer left")
        time.sleep(0.5)
        self.assertEqual(self.sim.state()["requests"]["framesRendered"], before)

    def test_unavailable_channels(self):
        self.assertEqual(self.open_stream(3).status, 404)
        self.client.close()
        self.client = DigestClient(self.sim.port)
        self.sim.faults("refuse-stream=2")
        resp = self.open_stream(2)
        self.assertEqual(resp.status, 404)
        resp.read()
        self.assertEqual(self.open_stream(1).status, 200)

    def test_stall_stops_the_frames(self):
        resp = self.open_stream(2)
        read_parts(resp, 1)
        # Every part is taken as it comes, so that only the stall, not a full
        # socket buffer, can stop the frames.
        received = []

        def read_on():
            try:
                while True:
                    received.extend(read_parts(resp, 1))
            except (AssertionError, AttributeError, OSError, ValueError,
                    http.client.HTTPException):
                pass  # the stream ends with the test
        threading.Thread(target=read_on, daemon=True).start()
        self.sim.faults("stall-stream=1")
        before = frames_once_still(self.sim)
        self.assertIsNotNone(before, "frames are still drawn in a stalled stream")
        time.sleep(0.5)
        self.assertLessEqual(self.sim.state()["requests"]["framesRendered"], before + 1)
        seen = len(received)
        self.sim.faults("stall-stream=0")
        self.assertTrue(wait_until(lambda: len(received) >= seen + 2))


def wait_until(predicate, timeout=10.0):
    """Polls predicate until it holds or timeout seconds pass; returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(0.05)


def raw_connection(port):
    sock = socket.create_connection(("127.0.0.1", port), timeout=10)
    return sock


def read_until_closed(sock, timeout=10.0):
    """Everything the server sends until it closes; None if it stays open past timeout."""
    sock.settimeout(timeout)
    data = b""
    try:
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                return data
            data += chunk
    except ConnectionResetError:
        return data
    except socket.timeout:
        return None


def still_open(sock):
    """True while the server has neither closed nor reset the connection."""
    # select, since a socket with a timeout waits in recv even when told not to.
    if not select.select([sock], [], [], 0)[0]:
        return True
    try:
        return sock.recv(1, socket.MSG_PEEK) != b""
    except ConnectionError:
        return False


class MjpegShapeTest(unittest.TestCase):
    """The part shapes of --mjpeg-shape, as cameras send them."""

    def open_stream(self, *args):
        sim = Camsim("--fps", "5", *args)
        self.addCleanup(lambda: self.assertEqual(sim.stop(), 0))
        client = DigestClient(sim.port)
        self.addCleanup(client.close)
        resp = client.open("/camnet/channels/1/stream")
        self.assertEqual(resp.status, 200)
        return sim, resp

    def test_standard_is_what_the_reader_of_the_others_checks(self):
        read_parts(self.open_stream("--mjpeg-shape", "standard")[1], 2)

    def test_no_length_parts_end_only_at_the_next_boundary(self):
        _, resp = self.open_stream("--mjpeg-shape", "no-length")
        data = b""
        while data.count(b"--camsimframe\r\n") < 3:
            data += resp.read1(65536)
        for part in data.split(b"--camsimframe\r\n")[1:-1]:
            headers, body = part.split(b"\r\n\r\n", 1)
            self.assertNotIn(b"content-length", headers.lower())
            self.assertTrue(body.startswith(b"\xff\xd8") and body.endswith(b"\xff\xd9\r\n"))

    def test_late_crlf_comes_only_with_the_next_frame(self):
        sim, resp = self.open_stream("--mjpeg-shape", "late-crlf")
        self.assertEqual(resp.readline(), b"--camsimframe\r\n")
        length = None
        while (line := resp.readline()) != b"\r\n":
            name, value = line.decode().split(":", 1)
            if name.strip().lower() == "content-length":
                length = int(value)
        self.assertTrue(resp.read(length).endswith(b"\xff\xd9"))
        # The CR LF that ends the first part is sent with the second one, so
        # the second frame has been drawn by the time it arrives.
        self.assertEqual(resp.read(2), b"\r\n")
        self.assertGreaterEqual(sim.state()["requests"]["framesRendered"], 2)
        self.assertEqual(resp.readline(), b"--camsimframe\r\n")


class LimitsTest(unittest.TestCase):
    def start(self, *args):
        sim = Camsim(*args)
        self.addCleanup(lambda: self.assertEqual(sim.stop(), 0))
        return sim

    def test_connections_beyond_the_limit_are_closed_and_the_others_keep_working(self):
        sim = self.start("--max-connections", "3")
        clients = [DigestClient(sim.port) for _ in range(3)]
        for client in clients:
            self.addCleanup(client.close)
            self.assertEqual(client.request("GET", "/camnet/device")[0], 200)
        extra = raw_connection(sim.port)
        self.addCleanup(extra.close)
        start = time.monotonic()
        # Closed at once, not left waiting in the backlog for a free slot.
        self.assertEqual(read_until_closed(extra), b"")
        self.assertLess(time.monotonic() - start, 5)
        for client in clients:
            self.assertEqual(client.request("GET", CAL)[0], 200)
        # A slot that frees up takes the next client.
        clients[0].close()
        replacement = DigestClient(sim.port)
        self.addCleanup(replacement.close)

        def served():
            try:
                return replacement.request("GET", "/camnet/device")[0] == 200
            except (ConnectionError, http.client.HTTPException):
                replacement.close()
                return False
        self.assertTrue(wait_until(served))

    def test_idle_connections_are_closed_and_busy_ones_kept(self):
        sim = self.start("--idle-timeout", "1")
        # Kept alive after one whole exchange, then left idle.
        idle = http.client.HTTPConnection("127.0.0.1", sim.port, timeout=10)
        self.addCleanup(idle.close)
        idle.request("GET", "/camsim/state")
        response = idle.getresponse()
        response.read()
        self.assertEqual(response.status, 200)
        self.assertFalse(response.will_close)
        stalled = raw_connection(sim.port)
        self.addCleanup(stalled.close)
        stalled.sendall(b"GET /camsim/state HTTP/1.1\r\nHo")
        start = time.monotonic()
        self.assertTrue(still_open(idle.sock) and still_open(stalled))

        busy = DigestClient(sim.port)
        self.addCleanup(busy.close)
        while time.monotonic() - start < 2.5:
            self.assertEqual(busy.request("GET", CAL)[0], 200)
            time.sleep(0.3)
        self.assertTrue(wait_until(lambda: not still_open(idle.sock)))
        # Half a request line gets no reply either, only the close.
        self.assertEqual(read_until_closed(stalled), b"")
        self.assertLess(time.monotonic() - start, 8)

    def test_huge_announced_bodies_are_refused_unread(self):
        sim = self.start()
        head = ("PUT %s HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/xml\r\n"
                "Content-Length: %d\r\n" % (CAL, 10 ** 12)).encode()
        for expect, sent in ((b"Expect: 100-continue\r\n", b""), (b"", b"<" * 4096)):
            sock = raw_connection(sim.port)
            self.addCleanup(sock.close)
            sock.sendall(head + expect + b"\r\n" + sent)
            # The refusal comes at once, instead of a 100 Continue or a wait
            # for the terabyte, and the connection ends with it.
            reply = read_until_closed(sock)
            self.assertIsNotNone(reply, expect)
            self.assertTrue(reply.startswith(b"HTTP/1.1 413 "), reply[:80])
            self.assertNotIn(b"100 Continue", reply)

        # Without a length, the connection ends once the body passes the
        # bound, long before the client is done sending.
        sock = raw_connection(sim.port)
        self.addCleanup(sock.close)
        sock.sendall(("PUT %s HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                      "Transfer-Encoding: chunked\r\n\r\n" % CAL).encode())
        chunk = b"%x\r\n%s\r\n" % (65536, b"<" * 65536)
        sent = 0
        with self.assertRaises((BrokenPipeError, ConnectionResetError)):
            while sent < 256 * 1024 * 1024:
                sock.sendall(chunk)
                sent += len(chunk)
        self.assertLess(sent, 64 * 1024 * 1024)
        self.assertEqual(sim.state()["calibration"]["distanceLevel"], 1)

    def test_rejects_bad_limits(self):
        for args in (["--max-connections", "0"], ["--idle-timeout", "0"],
                     ["--idle-timeout", "soon"]):
            proc = subprocess.run([CAMSIM, "--port", "0", *args], capture_output=True,
                                  text=True, timeout=10)
            self.assertEqual(proc.returncode, 2, args)


class LifecycleTest(unittest.TestCase):
    def test_stops_cleanly_on_sigint_with_a_connection_open(self):
        sim = Camsim()
        client = DigestClient(sim.port)
        self.assertEqual(client.request("GET", "/camnet/device")[0], 200)
        self.assertEqual(sim.stop(signal.SIGINT), 0)
        client.close()

    def test_stops_cleanly_on_sigterm_while_streaming(self):
        sim = Camsim()
        client = DigestClient(sim.port)
        read_parts(client.open("/camnet/channels/1/stream"), 1)
        self.assertEqual(sim.stop(), 0)
        client.close()

    def test_rejects_bad_command_lines(self):
        for args in (["--port", "70000"], ["--password", "x" * 17], ["--fps", "0"],
                     ["--listen", "localhost"], ["--bogus"]):
            proc = subprocess.run([CAMSIM, *args], capture_output=True, text=True, timeout=10)
            self.assertNotEqual(proc.returncode, 0, args)

    def test_logs_one_line_per_request(self):
        sim = Camsim()
        sim.plain("GET", "/camsim/state")
        sim.plain("GET", "/nowhere")
        self.assertEqual(sim.stop(), 0)
        lines = sim.log.splitlines()
        self.assertEqual(lines[:2], ["GET /camsim/state -> 200", "GET /nowhere -> 401"])


def ffprobe(url, frames=5):
    """(exit code, streams, standard error) of ffprobe reading frames of an RTSP URL."""
    proc = subprocess.run(
        ["ffprobe", "-v", "error", "-rtsp_transport", "tcp", "-timeout", "5000000",
         "-count_frames", "-read_intervals", "%%+#%d" % frames,
         "-show_entries", "stream=codec_name,width,height,nb_read_frames", "-of", "json", url],
        capture_output=True, text=True, timeout=20)
    return proc.returncode, json.loads(proc.stdout or "{}").get("streams"), proc.stderr


class RtspTest(unittest.TestCase):
    """The RTSP streams as ffmpeg, a client nobody here wrote, reads them."""

    def start(self, *args):
        sim = Camsim("--rtsp-port", "0", "--visible-size", "800x600", "--thermal-size",
                     "320x240", *args)
        self.addCleanup(lambda: sim.stop() if sim.proc.poll() is None else None)
        return sim

    @staticmethod
    def url(sim, channel, password=PASSWORD):
        return "rtsp://%s:%s@127.0.0.1:%d/channels/%d" % (USER, password, sim.rtsp_port, channel)

    def test_every_codec_at_each_channels_size(self):
        self.assertIsNotNone(shutil.which("ffprobe"), "ffprobe (Debian package ffmpeg) is missing")
        codecs = {"h264": "h264", "h265": "hevc", "jpeg": "mjpeg"}
        sims = {codec: self.start("--rtsp-codec", codec) for codec in codecs}
        cases = [(codec, channel) for codec in codecs for channel in (1, 2)]
        with concurrent.futures.ThreadPoolExecutor(len(cases)) as pool:
            probes = pool.map(lambda case: ffprobe(self.url(sims[case[0]], case[1])), cases)
        for (codec, channel), (code, streams, errors) in zip(cases, probes):
            width, height = (800, 600) if channel == 1 else (320, 240)
            self.assertEqual(code, 0, errors)
            self.assertEqual(streams, [{"codec_name": codecs[codec], "width": width,
                                        "height": height, "nb_read_frames": "5"}], codec)
        for sim in sims.values():
            self.assertEqual(sim.stop(), 0)

    def test_refusals(self):
        sim = self.start()
        code, _, errors = ffprobe(self.url(sim, 1, "wrong"))
        self.assertNotEqual(code, 0)
        self.assertIn("401", errors)
        self.assertGreaterEqual(sim.state()["requests"].get("badCredentials", 0), 1)
        for channel in (0, 3):
            code, _, errors = ffprobe(self.url(sim, channel))
            self.assertNotEqual(code, 0)
            self.assertIn("404", errors)
        sim.faults("refuse-stream=2")
        code, _, errors = ffprobe(self.url(sim, 2))
        self.assertNotEqual(code, 0)
        self.assertIn("404", errors)
        self.assertEqual(ffprobe(self.url(sim, 1))[0], 0)
        sim.faults("refuse-stream=0 refuse-login=1")
        code, _, errors = ffprobe(self.url(sim, 1))
        self.assertNotEqual(code, 0)
        self.assertIn("401", errors)
        # Nothing but the account reaches a stream, OPTIONS included.
        sim.faults("refuse-login=0")
        sock = raw_connection(sim.rtsp_port)
        self.addCleanup(sock.close)
        sock.sendall(b"OPTIONS rtsp://127.0.0.1/channels/1 RTSP/1.0\r\nCSeq: 1\r\n\r\n")
        reply = sock.recv(4096)
        self.assertTrue(reply.startswith(b"RTSP/1.0 401 "), reply)
        self.assertIn(b"WWW-Authenticate: Digest ", reply)
        self.assertNotIn(b"Basic", reply)

    def test_a_connection_that_sets_up_nothing_is_closed(self):
        sim = self.start("--idle-timeout", "3")
        silent = raw_connection(sim.rtsp_port)
        self.addCleanup(silent.close)
        silent.settimeout(20)
        self.assertEqual(silent.recv(1), b"")
        # A stream being played is not idle, however long the client is quiet:
        # four seconds of frames, beyond the three it had to set it up.
        code, streams, errors = ffprobe(self.url(sim, 1), frames=100)
        self.assertEqual(code, 0, errors)
        self.assertEqual(streams[0]["nb_read_frames"], "100")

    def test_a_described_stream_is_not_drawn_for_nobody(self):
        # DESCRIBE prepares a pipeline that only PLAY sends from; until then
        # nothing more than what the description needs is drawn.
        sim = self.start()
        uri = "rtsp://127.0.0.1:%d/channels/1" % sim.rtsp_port
        sock = raw_connection(sim.rtsp_port)
        self.addCleanup(sock.close)
        request = "DESCRIBE %s RTSP/1.0\r\nCSeq: %d\r\n%s\r\n"
        sock.sendall((request % (uri, 1, "")).encode())
        challenge = sock.recv(4096).decode()
        realm, nonce = re.search(r'realm="([^"]*)", nonce="([^"]*)"', challenge).groups()
        md5 = lambda s: hashlib.md5(s.encode()).hexdigest()
        answer = md5("%s:%s:%s" % (md5("%s:%s:%s" % (USER, realm, PASSWORD)), nonce,
                                   md5("DESCRIBE:" + uri)))
        sock.sendall((request % (uri, 2, 'Authorization: Digest username="%s", realm="%s", '
                                 'nonce="%s", uri="%s", response="%s"\r\n'
                                 % (USER, realm, nonce, uri, answer))).encode())
        self.assertTrue(sock.recv(4096).startswith(b"RTSP/1.0 200 "))
        drawn = frames_once_still(sim)
        self.assertIsNotNone(drawn, "a stream nobody plays is drawn on")
        self.assertLessEqual(drawn, 5)

    def test_stall_drop_and_stop_with_clients_streaming(self):
        sim = self.start("--fps", "50")

        def client(channel):
            proc = subprocess.Popen(
                ["ffmpeg", "-nostdin", "-v", "error", "-rtsp_transport", "tcp", "-timeout",
                 "20000000", "-i", self.url(sim, channel), "-c", "copy", "-f", "null", "-"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            STARTED.append(proc)
            return proc

        def frames():
            return sim.state()["requests"].get("framesRendered", 0)
        watcher = client(1)
        self.assertTrue(wait_until(lambda: frames() >= 10))
        sim.faults("stall-stream=1")
        before = frames_once_still(sim)
        self.assertIsNotNone(before, "frames are still drawn in a stalled stream")
        self.assertIsNone(watcher.poll(), "a stall closed the connection")
        sim.faults("stall-stream=0")
        self.assertTrue(wait_until(lambda: frames() >= before + 10))
        sim.faults("drop-connection=1")
        watcher.wait(timeout=10)
        sim.faults("drop-connection=0")
        # SIGTERM with clients on both channels ends the simulator at once.
        watchers = [client(1), client(2)]
        self.assertTrue(wait_until(lambda: sim.state()["requests"]["rtspStreams"] >= 3))
        streaming = frames()
        self.assertTrue(wait_until(lambda: frames() >= streaming + 10))
        self.assertEqual(sim.stop(), 0)
        for proc in watchers:
            proc.wait(timeout=10)


ALIGNED = (6, 72, 72, 82, 112)
FIELDS = ("distanceLevel", "horScale", "verScale", "horShift", "verShift")


class MappingTest(unittest.TestCase):
    """How --shift-gain, --scale-gain and --scale-centre turn the five values
    into the overlay's warp, as the ground truth in the state reports it."""

    def error_at(self, *args, values):
        """{values: alignmentError} and the state at the first, for one simulator."""
        sim = Camsim(*args)
        client = DigestClient(sim.port)
        errors, first = {}, None
        for v in values:
            self.assertEqual(client.request("PUT", CAL, calibration_xml(*v))[0], 200, v)
            state = sim.state()
            errors[v] = state["alignmentError"]
            first = first or state
        client.close()
        self.assertEqual(sim.stop(), 0)
        return errors, first

    @staticmethod
    def best(state):
        return tuple(state["bestCalibration"][f] for f in FIELDS)

    def test_default_mapping_is_aligned_at_the_factory_values(self):
        _, state = self.error_at(values=[ALIGNED])
        self.assertEqual(state["mapping"],
                         {"shiftGain": 1, "scaleGain": 1 / 64, "scaleCentre": "centre"})
        self.assertLess(state["alignmentError"], 0.001)
        self.assertLess(state["alignmentFloor"], 0.001)
        self.assertEqual(self.best(state), ALIGNED)

    def test_shift_gain_sets_the_size_and_sign_of_a_bias_step(self):
        _, state = self.error_at("--shift-gain", "-2", values=[ALIGNED])
        best = self.best(state)
        # The overlay must go left and down: with a negative gain the biases lie
        # on the other side of 100 than at the default mapping.
        self.assertGreater(best[3], 100)
        self.assertLess(best[4], 100)
        step = best[:3] + (best[3] + 1, best[4])
        errors, _ = self.error_at("--shift-gain", "-2", values=[best, step])
        self.assertGreater(errors[step] - errors[best], 1.5)
        errors, _ = self.error_at(values=[ALIGNED, (6, 72, 72, 83, 112)])
        self.assertLess(errors[(6, 72, 72, 83, 112)] - errors[ALIGNED], 1.2)

    def test_coarse_mapping_leaves_a_floor_that_no_neighbour_beats(self):
        args = ("--shift-gain", "2.5", "--scale-gain", "-0.025")
        _, state = self.error_at(*args, values=[ALIGNED])
        self.assertEqual(state["mapping"]["scaleGain"], -0.025)
        floor, best = state["alignmentFloor"], self.best(state)
        self.assertTrue(0 < floor < 1.5, floor)
        self.assertEqual(best[0], 6)
        neighbours = [best]
        for i in range(1, 5):
            for d in (-1, 1):
                neighbours.append(best[:i] + (best[i] + d,) + best[i + 1:])
        errors, _ = self.error_at(*args, values=neighbours)
        self.assertAlmostEqual(errors[best], floor, places=9)
        for v in neighbours[1:]:
            self.assertGreater(errors[v], floor, v)

    def test_corner_pivot_moves_the_centre_with_the_scale(self):
        corner = ("--scale-centre", "corner")
        _, state = self.error_at(*corner, values=[ALIGNED])
        self.assertEqual(state["mapping"]["scaleCentre"], "corner")
        # Scaling about the corner carries the frame's centre along, which the
        # biases must take back.
        self.assertGreater(state["alignmentError"], 20)
        best = self.best(state)
        self.assertLess(best[3], ALIGNED[3] - 20)
        step = best[:1] + (best[1] + 1,) + best[2:]
        errors, _ = self.error_at(*corner, values=[best, step])
        centred, _ = self.error_at(values=[ALIGNED, (6, 73, 72, 82, 112)])
        self.assertGreater(errors[step] - errors[best],
                           1.5 * (centred[(6, 73, 72, 82, 112)] - centred[ALIGNED]))

    def test_rejects_bad_mappings(self):
        for args in (["--shift-gain", "x"], ["--shift-gain", "nan"], ["--scale-gain", "2"],
                     ["--scale-centre", "middle"], ["--scale-gain"]):
            proc = subprocess.run([CAMSIM, *args], capture_output=True, text=True, timeout=10)
            self.assertEqual(proc.returncode, 2, args)


def gray_frame(sim, channel):
    """One picture of a channel's MJPEG stream as (width, height, gray bytes)."""
    client = DigestClient(sim.port)
    resp = client.open("/camnet/channels/%d/stream" % channel)
    # The second part: the first may have been drawn before a change just made.
    jpeg = read_parts(resp, 2)[1]
    client.close()
    proc = subprocess.run(["ffmpeg", "-v", "error", "-f", "mjpeg", "-i", "-", "-f", "rawvideo",
                           "-pix_fmt", "gray", "-"], input=jpeg, capture_output=True, timeout=20)
    assert proc.returncode == 0, proc.stderr
    return 640, 480, proc.stdout


def spread(frame, top):
    """Standard deviation of the gray levels below row `top`."""
    w, h, data = frame
    values = data[top * w:]
    mean = sum(values) / len(values)
    return (sum((v - mean) ** 2 for v in values[::7]) / len(values[::7])) ** 0.5


def correlation(a, b):
    n = len(a)
    ma, mb = sum(a) / n, sum(b) / n
    cov = sum((x - ma) * (y - mb) for x, y in zip(a, b))
    va = sum((x - ma) ** 2 for x in a)
    vb = sum((y - mb) ** 2 for y in b)
    return cov / (va * vb) ** 0.5


class PictureTest(unittest.TestCase):
    """The pictures themselves, decoded by ffmpeg."""

    def setUp(self):
        self.assertIsNotNone(shutil.which("ffmpeg"), "ffmpeg (Debian package ffmpeg) is missing")

    def start(self, fusion, values=ALIGNED, *args):
        tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, tmp)
        path = os.path.join(tmp, "state.json")
        with open(path, "w") as f:
            json.dump({"calibration": dict(zip(FIELDS, values)), "fusion": fusion}, f)
        sim = Camsim("--state", path, *args)
        self.addCleanup(sim.stop)
        return sim

    def test_crossover_leaves_only_noise_in_the_thermal_picture(self):
        sim = self.start(False)
        osd = 40  # rows of the frame counter's text
        normal = spread(gray_frame(sim, 2), osd)
        self.assertEqual(sim.faults("crossover=1")[0], 200)
        self.assertTrue(sim.state()["faults"]["crossover"])
        flat = spread(gray_frame(sim, 2), osd)
        self.assertGreater(normal, 10)
        self.assertLess(flat, 3)
        self.assertGreater(spread(gray_frame(sim, 1), osd), 10)
        flagged = self.start(False, ALIGNED, "--crossover")
        self.assertLess(spread(gray_frame(flagged, 2), osd), 3)

    def test_fused_channel_is_the_warped_thermal_picture(self):
        values = (6, 80, 68, 90, 105)
        fused = gray_frame(self.start(True, values), 1)[2]
        sim = self.start(False, values)
        visible, thermal = gray_frame(sim, 1)[2], gray_frame(sim, 2)[2]
        k = [1 + (s - 64) / 64 for s in values[1:3]]
        shift = [b - 100 for b in values[3:5]]
        points = [(x, y) for y in range(60, 460, 6) for x in range(20, 620, 6)]
        # Without the visible share what is left is the overlay: cool parts of
        # the thermal picture weigh 0.6 in the fused one.
        overlay = [fused[y * 640 + x] - 0.4 * visible[y * 640 + x] for x, y in points]

        def warped(tx, ty):
            out = []
            for x, y in points:
                u = 320 + (x - 320 - shift[0] - tx) / k[0]
                v = 240 + (y - 240 - shift[1] - ty) / k[1]
                out.append(thermal[min(479, max(0, round(v))) * 640 + min(639, max(0, round(u)))])
            return out

        scores = {(tx, ty): correlation(overlay, warped(tx, ty))
                  for tx in range(-2, 10, 2) for ty in range(-4, 6, 2)}
        (tx, ty), best = max(scores.items(), key=lambda item: item[1])
        # The rest of the warp is the level's parallax compensation: a few pixels.
        self.assertGreater(best, 0.85, (tx, ty))
        self.assertLessEqual(abs(tx) + abs(ty), 8)
        unwarped = correlation(overlay, [thermal[y * 640 + x] for x, y in points])
        self.assertLess(unwarped, best - 0.1)


if __name__ == "__main__":
    unittest.main()
