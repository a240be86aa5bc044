#!/usr/bin/env python3
"""The simulator's ONVIF side as ONVIF clients written elsewhere see it: the
onvif package for Node.js, with ffprobe opening the streams it was handed,
and Debian's zeep with its own WS-Security UsernameToken. Loopback only."""

import datetime
import json
import os
import re
import shutil
import subprocess
import sys
import unittest
import warnings

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import test_camsim  # noqa: E402
from test_camsim import PASSWORD, USER, Camsim  # noqa: E402
from test_onvif import camera_clock  # noqa: E402

NODE_MODULE = os.environ.get("ONVIF_NODE_MODULE", "")
WSDL = os.path.join(HERE, "..", "data", "onvif", "device.wsdl")


def tearDownModule():
    test_camsim.tearDownModule()


def onvif_calls(log):
    return [line for line in log.splitlines() if line.startswith("ONVIF ")]


def record(title, calls):
    """The calls a client made, as the simulator logged them, for the record."""
    sys.stderr.write("\n%s:\n%s\n" % (title, "\n".join("  " + c for c in calls)))


def ffprobe_video(uri):
    """The codec of the first video stream ffprobe finds at uri, or its error."""
    proc = subprocess.run(
        ["ffprobe", "-v", "error", "-rtsp_transport", "tcp", "-timeout", "5000000",
         "-select_streams", "v", "-show_entries", "stream=codec_type,codec_name",
         "-of", "json", uri], capture_output=True, text=True, timeout=30)
    streams = json.loads(proc.stdout or "{}").get("streams") or []
    return streams[0] if proc.returncode == 0 and streams else proc.stderr


class NodeOnvifTest(unittest.TestCase):
    """The onvif package, pinned by scripts/install-deps into the build tree."""

    def setUp(self):
        self.assertTrue(os.path.isfile(os.path.join(NODE_MODULE, "package.json")),
                        "the onvif package is missing from %r: run scripts/install-deps"
                        % NODE_MODULE)
        with open(os.path.join(NODE_MODULE, "package.json")) as f:
            self.assertEqual(json.load(f)["version"], "0.8.3")
        self.assertIsNotNone(shutil.which("node"), "node is missing")
        self.assertIsNotNone(shutil.which("ffprobe"), "ffprobe (Debian package ffmpeg) is missing")

    def connect(self, *args):
        sim = Camsim("--rtsp-port", "0", *args)
        self.addCleanup(lambda: sim.stop() if sim.proc.poll() is None else None)
        proc = subprocess.run(["node", os.path.join(HERE, "onvif_interop.js"), NODE_MODULE,
                               str(sim.port), USER, PASSWORD],
                              capture_output=True, text=True, timeout=60)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        return sim, json.loads(proc.stdout)

    def check_streams(self, sim, found):
        self.assertEqual(len(found["sources"]), 2)
        self.assertEqual([s["source"] for s in found["streams"]], found["sources"])
        rtsp = "rtsp://127.0.0.1:%d/channels/" % sim.rtsp_port
        # Listed thermal first: the first source streams channel 2.
        self.assertEqual([s["uri"] for s in found["streams"]], [rtsp + "2", rtsp + "1"])
        for stream in found["streams"]:
            # ffprobe takes the account in the URL; the simulator never puts it there.
            uri = stream["uri"].replace("rtsp://", "rtsp://%s:%s@" % (USER, PASSWORD), 1)
            self.assertEqual(ffprobe_video(uri), {"codec_type": "video", "codec_name": "h264"})

    def test_media2_with_usernametoken(self):
        sim, found = self.connect()
        self.assertTrue(found["media2"])
        self.check_streams(sim, found)
        self.assertEqual(sim.stop(), 0)
        calls = onvif_calls(sim.log)
        record("node onvif 0.8.3, --onvif-auth both", calls)
        self.assertIn("ONVIF media2 GetStreamUri auth=token -> 200", calls)
        self.assertFalse([c for c in calls if "auth=digest" in c])

    def test_media_with_digest(self):
        sim, found = self.connect("--onvif-auth", "digest", "--onvif-no-media2")
        self.assertFalse(found["media2"])
        self.check_streams(sim, found)
        self.assertEqual(sim.stop(), 0)
        calls = onvif_calls(sim.log)
        record("node onvif 0.8.3, --onvif-auth digest --onvif-no-media2", calls)
        self.assertIn("ONVIF media GetStreamUri auth=digest -> 200", calls)
        self.assertFalse([c for c in calls if "media2" in c and "-> 200" in c])


class ZeepOnvifTest(unittest.TestCase):
    """zeep (Debian's python3-zeep) with its UsernameToken and a local WSDL."""

    def setUp(self):
        # zeep's own imports and file handling, not this test's.
        warnings.simplefilter("ignore", DeprecationWarning)
        warnings.simplefilter("ignore", ResourceWarning)
        try:
            import zeep  # noqa: F401
        except ImportError:
            self.fail("zeep is missing (Debian package python3-zeep, for %s)" % sys.executable)

    def service(self, port, password, created=None):
        from zeep import Client, Settings
        from zeep.transports import Transport
        from zeep.wsse.username import UsernameToken
        token = UsernameToken(USER, password, use_digest=True, created=created)
        client = Client("file://" + os.path.abspath(WSDL), wsse=token,
                        transport=Transport(timeout=10, operation_timeout=10),
                        settings=Settings(strict=True))
        return client.create_service("{http://www.onvif.org/ver10/device/wsdl}DeviceBinding",
                                     "http://127.0.0.1:%d/onvif/device_service" % port)

    def test_usernametoken_accepted_and_wrong_password_refused(self):
        from zeep.exceptions import Fault
        sim = Camsim("--onvif-auth", "token", "--onvif-clock-offset", "-5400")
        self.addCleanup(lambda: sim.stop() if sim.proc.poll() is None else None)
        # zeep signs with the clock it is given: the camera's, read first.
        camera = camera_clock(sim.port)
        info = self.service(sim.port, PASSWORD, camera).GetDeviceInformation()
        self.assertEqual((info.Manufacturer, info.Model), ("camsim", "CAMSIM-DUAL"))
        for password, created, why in (("wrong", camera, "sender not authorized"),
                                       (PASSWORD, None, "Created")):
            with self.assertRaises(Fault) as refused:
                self.service(sim.port, password, created).GetDeviceInformation()
            self.assertIn(why, refused.exception.message)
            self.assertEqual([q.localname for q in refused.exception.subcodes],
                             ["NotAuthorized"])
        self.assertEqual(sim.stop(), 0)
        calls = onvif_calls(sim.log)
        record("zeep %s, --onvif-auth token --onvif-clock-offset -5400"
               % __import__("zeep").__version__, calls)
        self.assertEqual(calls, ["ONVIF device GetSystemDateAndTime auth=none -> 200",
                                 "ONVIF device GetDeviceInformation auth=token -> 200",
                                 "ONVIF device GetDeviceInformation auth=none -> 400",
                                 "ONVIF device GetDeviceInformation auth=none -> 400"])


if __name__ == "__main__":
    unittest.main()
