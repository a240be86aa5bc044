#!/usr/bin/env python3
"""The simulator's ONVIF services on 127.0.0.1, and its WS-Discovery responder
inside a network namespace of the test's own."""

import base64
import datetime
import hashlib
import http.client
import os
import re
import select
import shutil
import socket
import subprocess
import sys
import time
import unittest
import uuid
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_camsim  # noqa: E402
from test_camsim import PASSWORD, USER, Camsim, DigestClient  # noqa: E402

NS = {
    "env": "http://www.w3.org/2003/05/soap-envelope",
    "tds": "http://www.onvif.org/ver10/device/wsdl",
    "trt": "http://www.onvif.org/ver10/media/wsdl",
    "tr2": "http://www.onvif.org/ver20/media/wsdl",
    "tth": "http://www.onvif.org/ver10/thermal/wsdl",
    "tt": "http://www.onvif.org/ver10/schema",
    "ter": "http://www.onvif.org/ver10/error",
    "wsse": "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd",
    "wsu": "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd",
    "wsa": "http://schemas.xmlsoap.org/ws/2004/08/addressing",
    "wsd": "http://schemas.xmlsoap.org/ws/2005/04/discovery",
}
DEVICE, MEDIA, MEDIA2, THERMAL = ("/onvif/device_service", "/onvif/media_service",
                                  "/onvif/media2_service", "/onvif/thermal_service")


def tearDownModule():
    test_camsim.tearDownModule()


def envelope(body, header=""):
    # Prefixes unlike the simulator's own, so that nothing matches by prefix.
    return ('<?xml version="1.0" encoding="UTF-8"?>'
            '<S:Envelope xmlns:S="http://www.w3.org/2003/05/soap-envelope">'
            '<S:Header>%s</S:Header><S:Body>%s</S:Body></S:Envelope>' % (header, body)).encode()


def call(ns, operation, inner=""):
    return '<x:%s xmlns:x="%s" xmlns:s="%s">%s</x:%s>' % (operation, NS[ns], NS["tt"], inner,
                                                         operation)


def username_token(user=USER, password=PASSWORD, created=None, nonce=None):
    created = created or datetime.datetime.now(datetime.timezone.utc)
    stamp = created.strftime("%Y-%m-%dT%H:%M:%S.") + "%03dZ" % (created.microsecond // 1000)
    nonce = nonce or os.urandom(16)
    digest = base64.b64encode(hashlib.sha1(nonce + stamp.encode() + password.encode()).digest())
    return ('<o:Security xmlns:o="%s" xmlns:u="%s"><o:UsernameToken><o:Username>%s</o:Username>'
            '<o:Password Type="http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-username'
            '-token-profile-1.0#PasswordDigest">%s</o:Password><o:Nonce EncodingType="http://'
            'docs.oasis-open.org/wss/2004/01/oasis-200401-wss-soap-message-security-1.0#Base64'
            'Binary">%s</o:Nonce><u:Created>%s</u:Created></o:UsernameToken></o:Security>'
            % (NS["wsse"], NS["wsu"], user, digest.decode(), base64.b64encode(nonce).decode(),
               stamp))


class Reply:
    def __init__(self, status, data, headers):
        self.status, self.data, self.headers = status, data, headers
        try:
            self.root = ET.fromstring(data) if data else None
        except ET.ParseError:
            self.root = None

    def find(self, path):
        return self.root.find(".//" + path, NS) if self.root is not None else None

    def findall(self, path):
        return self.root.findall(".//" + path, NS) if self.root is not None else []

    def text(self, path):
        node = self.find(path)
        return node.text if node is not None else None

    def fault(self):
        """The fault's code and subcodes, e.g. ("env:Sender", "ter:NotAuthorized")."""
        return tuple(v.text for v in self.findall("env:Fault/env:Code//env:Value"))


def post(port, path, body, host=None, authorization=None):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    headers = {"Content-Type": "application/soap+xml; charset=utf-8"}
    if host:
        headers["Host"] = host
    if authorization:
        headers["Authorization"] = authorization
    conn.request("POST", path, body=body, headers=headers)
    resp = conn.getresponse()
    reply = Reply(resp.status, resp.read(), dict(resp.getheaders()))
    conn.close()
    return reply


def digest_post(port, path, body, password=PASSWORD):
    client = DigestClient(port, password=password)
    status, data, header = client.request("POST", path, body)
    client.close()
    return Reply(status, data, {"WWW-Authenticate": header})


def camera_clock(port):
    """The camera's UTC clock as GetSystemDateAndTime tells it."""
    r = post(port, DEVICE, envelope(call("tds", "GetSystemDateAndTime")))
    utc = r.find("tt:UTCDateTime")
    fields = [int(utc.find(".//tt:" + f, NS).text)
              for f in ("Year", "Month", "Day", "Hour", "Minute", "Second")]
    return datetime.datetime(*fields, tzinfo=datetime.timezone.utc)


def token_post(port, path, body_call, **token):
    return post(port, path, envelope(body_call, username_token(**token)))


class OnvifCase(unittest.TestCase):
    def start(self, *args):
        sim = Camsim(*args)
        self.addCleanup(lambda: sim.stop() if sim.proc.poll() is None else None)
        return sim

    def log_of(self, sim):
        self.assertEqual(sim.stop(), 0)
        return [line for line in sim.log.splitlines() if line.startswith("ONVIF ")]


class AuthTest(OnvifCase):
    """Each --onvif-auth mode: what it takes, what it refuses and how."""

    INFO = call("tds", "GetDeviceInformation")

    def attempts(self, port):
        """The answers to right and wrong Digest and UsernameToken credentials."""
        return {
            "digest": digest_post(port, DEVICE, envelope(self.INFO)),
            "digest-wrong": digest_post(port, DEVICE, envelope(self.INFO), password="wrong"),
            "token": token_post(port, DEVICE, self.INFO),
            "token-wrong": token_post(port, DEVICE, self.INFO, password="wrong"),
            "none": post(port, DEVICE, envelope(self.INFO)),
        }

    def test_each_mode_takes_its_own_credentials_and_refuses_the_rest(self):
        challenged, refused = (401, ("env:Sender", "ter:NotAuthorized")), \
            (400, ("env:Sender", "ter:NotAuthorized"))
        expected = {
            "digest": {"digest": 200, "digest-wrong": challenged, "token": challenged,
                       "token-wrong": challenged, "none": challenged},
            "token": {"digest": refused, "digest-wrong": refused, "token": 200,
                      "token-wrong": refused, "none": refused},
            "both": {"digest": 200, "digest-wrong": challenged, "token": 200,
                     "token-wrong": refused, "none": challenged},
        }
        for mode, outcomes in expected.items():
            sim = self.start("--onvif-auth", mode)
            replies = self.attempts(sim.port)
            for attempt, outcome in outcomes.items():
                reply = replies[attempt]
                with self.subTest(mode=mode, attempt=attempt):
                    if outcome == 200:
                        self.assertEqual(reply.status, 200, reply.data)
                        self.assertEqual(reply.text("tds:Model"), "CAMSIM-DUAL")
                        continue
                    self.assertEqual((reply.status, reply.fault()), outcome, reply.data)
                    challenge = reply.headers.get("WWW-Authenticate")
                    if reply.status == 401:
                        self.assertTrue(challenge and challenge.startswith("Digest "), challenge)
                    else:
                        self.assertFalse(challenge)
            bad = sim.state()["requests"].get("badCredentials", 0)
            log = self.log_of(sim)
            # Only wrong credentials of a kind the mode takes cost the account.
            self.assertEqual(bad, {"digest": 1, "token": 1, "both": 2}[mode], mode)
            granted = [line for line in log if line.endswith("-> 200")]
            self.assertEqual(granted, ["ONVIF device GetDeviceInformation auth=%s -> 200" % kind
                                       for kind in ("digest", "token")
                                       if outcomes[kind] == 200], mode)

    def test_calls_anybody_may_make_and_a_nonce_taken_once(self):
        sim = self.start("--onvif-auth", "token")
        for path, ns in ((DEVICE, "tds"), (MEDIA, "trt"), (MEDIA2, "tr2"), (THERMAL, "tth")):
            reply = post(sim.port, path, envelope(call(ns, "GetServiceCapabilities")))
            self.assertEqual(reply.status, 200, path)
        for operation in ("GetSystemDateAndTime", "GetServices", "GetCapabilities"):
            self.assertEqual(post(sim.port, DEVICE, envelope(call("tds", operation))).status, 200)
        refused = post(sim.port, MEDIA, envelope(call("trt", "GetProfiles")))
        self.assertEqual((refused.status, refused.fault()), (400, ("env:Sender",
                                                                   "ter:NotAuthorized")))
        header = username_token()
        first = post(sim.port, MEDIA, envelope(call("trt", "GetProfiles"), header))
        again = post(sim.port, MEDIA, envelope(call("trt", "GetProfiles"), header))
        self.assertEqual(first.status, 200)
        self.assertEqual((again.status, again.fault()), (400, ("env:Sender", "ter:NotAuthorized")))
        self.assertIn("nonce", again.text("env:Text"))
        log = self.log_of(sim)
        self.assertIn("ONVIF device GetSystemDateAndTime auth=none -> 200", log)
        self.assertIn("ONVIF media GetProfiles auth=token -> 200", log)
        self.assertEqual(log.count("ONVIF media GetProfiles auth=none -> 400"), 2)

    def test_refuse_login_fault_refuses_both_kinds(self):
        sim = self.start("--refuse-login")
        self.assertEqual(token_post(sim.port, DEVICE, self.INFO).status, 400)
        self.assertEqual(digest_post(sim.port, DEVICE, envelope(self.INFO)).status, 401)
        # Calls anybody may make stay open, so that a client can still read the clock.
        self.assertEqual(post(sim.port, DEVICE,
                              envelope(call("tds", "GetSystemDateAndTime"))).status, 200)


class ClockTest(OnvifCase):
    """--onvif-clock-offset: the camera's clock and the token window that follows it."""

    def test_tokens_are_judged_by_the_cameras_clock(self):
        for offset in (3600, -7200):
            sim = self.start("--onvif-clock-offset", str(offset), "--onvif-auth", "token")
            now = datetime.datetime.now(datetime.timezone.utc)
            camera = camera_clock(sim.port)
            self.assertLess(abs((camera - now).total_seconds() - offset), 5, offset)
            info = call("tds", "GetDeviceInformation")
            host_clock = token_post(sim.port, DEVICE, info)
            self.assertEqual((host_clock.status, host_clock.fault()),
                             (400, ("env:Sender", "ter:NotAuthorized")))
            self.assertIn("Created", host_clock.text("env:Text"))
            self.assertEqual(token_post(sim.port, DEVICE, info, created=camera).status, 200)
            # The window is a minute either side: two minutes off is refused.
            late = camera + datetime.timedelta(seconds=120)
            self.assertEqual(token_post(sim.port, DEVICE, info, created=late).status, 400)
            # A wrong clock is no reason to refuse the right password.
            self.assertEqual(sim.state()["requests"].get("badCredentials", 0), 0)

    def test_bad_offsets_are_refused(self):
        for value in ("soon", "1e3", "400000000"):
            proc = subprocess.run([test_camsim.CAMSIM, "--onvif-clock-offset", value],
                                  capture_output=True, text=True, timeout=10)
            self.assertEqual(proc.returncode, 2, value)
        proc = subprocess.run([test_camsim.CAMSIM, "--onvif-auth", "basic"],
                              capture_output=True, text=True, timeout=10)
        self.assertEqual(proc.returncode, 2)


def services(port, host=None):
    r = post(port, DEVICE, envelope(call("tds", "GetServices",
                                         "<x:IncludeCapability>false</x:IncludeCapability>")),
             host=host)
    return {s.find("tds:Namespace", NS).text: s.find("tds:XAddr", NS).text
            for s in r.findall("tds:Service")}


class ServicesTest(OnvifCase):
    """Which services the camera offers, where, and what a missing one answers."""

    def test_full_camera_offers_four_services_at_their_addresses(self):
        sim = self.start()
        found = services(sim.port)
        base = "http://127.0.0.1:%d" % sim.port
        self.assertEqual(found, {NS["tds"]: base + DEVICE, NS["trt"]: base + MEDIA,
                                 NS["tr2"]: base + MEDIA2, NS["tth"]: base + THERMAL})
        caps = post(sim.port, DEVICE, envelope(call("tds", "GetCapabilities",
                                                    "<x:Category>Media</x:Category>")))
        self.assertEqual(caps.text("tt:Media/tt:XAddr"), base + MEDIA)
        self.assertIsNone(caps.find("tt:Device"))
        ptz = post(sim.port, DEVICE, envelope(call("tds", "GetCapabilities",
                                                   "<x:Category>PTZ</x:Category>")))
        self.assertEqual(ptz.fault(), ("env:Receiver", "ter:ActionNotSupported",
                                       "ter:NoSuchService"))
        scopes = post(sim.port, DEVICE, envelope(call("tds", "GetScopes")),
                      authorization=None)
        self.assertEqual(scopes.status, 401)
        scopes = token_post(sim.port, DEVICE, call("tds", "GetScopes"))
        self.assertIn("onvif://www.onvif.org/name/camsim",
                      [s.text for s in scopes.findall("tt:ScopeItem")])

    def test_missing_services_are_not_offered_and_not_served(self):
        for flag, path, ns in (("--onvif-no-thermal", THERMAL, "tth"),
                               ("--onvif-no-media2", MEDIA2, "tr2")):
            sim = self.start(flag)
            found = services(sim.port)
            self.assertNotIn(NS[ns], found, flag)
            self.assertEqual(len(found), 3, flag)
            reply = token_post(sim.port, path, call(ns, "GetServiceCapabilities"))
            self.assertEqual(reply.status, 404, flag)

    def test_faults_for_what_is_not_a_call_here(self):
        sim = self.start("--onvif-auth", "token")
        unknown = token_post(sim.port, DEVICE, call("tds", "SystemReboot"))
        self.assertEqual((unknown.status, unknown.fault()),
                         (500, ("env:Receiver", "ter:ActionNotSupported")))
        # A media call sent to the device service is not answered as one.
        astray = token_post(sim.port, DEVICE, call("trt", "GetProfiles"))
        self.assertEqual(astray.fault(), ("env:Receiver", "ter:ActionNotSupported"))
        broken = post(sim.port, DEVICE, b"<S:Envelope xmlns:S='" + NS["env"].encode() + b"'>")
        self.assertEqual((broken.status, broken.fault()), (400, ("env:Sender", "ter:WellFormed")))
        soap11 = post(sim.port, DEVICE, b"<E:Envelope xmlns:E='http://schemas.xmlsoap.org/soap/"
                      b"envelope/'><E:Body><GetScopes/></E:Body></E:Envelope>")
        self.assertEqual((soap11.status, soap11.fault()), (500, ("env:VersionMismatch",)))
        entity = post(sim.port, DEVICE, b"<!DOCTYPE S [<!ENTITY a 'x'>]>" + envelope(
            call("tds", "GetSystemDateAndTime")).split(b"?>", 1)[1])
        self.assertEqual(entity.fault(), ("env:Sender", "ter:WellFormed"))
        # Digest clients send an empty body first to be challenged.
        digest = self.start("--onvif-auth", "digest")
        self.assertEqual(post(digest.port, DEVICE, b"").status, 401)
        self.assertEqual(digest_post(digest.port, DEVICE, b"").status, 400)


def sources_and_profiles(port):
    """([video source tokens], {source token: profile token}) from Media."""
    sources = token_post(port, MEDIA, call("trt", "GetVideoSources"))
    profiles = token_post(port, MEDIA, call("trt", "GetProfiles"))
    tokens = [s.get("token") for s in sources.findall("trt:VideoSources")]
    owners = {p.find(".//tt:SourceToken", NS).text: p.get("token")
              for p in profiles.findall("trt:Profiles")}
    return tokens, owners


def media1_uri(port, profile, protocol="RTSP", host=None):
    inner = ("<x:StreamSetup><s:Stream>RTP-Unicast</s:Stream><s:Transport><s:Protocol>%s"
             "</s:Protocol></s:Transport></x:StreamSetup><x:ProfileToken>%s</x:ProfileToken>"
             % (protocol, profile))
    r = post(port, MEDIA, envelope(call("trt", "GetStreamUri", inner), username_token()),
             host=host)
    return r.text("tt:Uri") or r.fault()


def media2_uri(port, profile, protocol="RtspUnicast"):
    inner = "<x:Protocol>%s</x:Protocol><x:ProfileToken>%s</x:ProfileToken>" % (protocol,
                                                                               profile)
    r = token_post(port, MEDIA2, call("tr2", "GetStreamUri", inner))
    return r.text("tr2:Uri") or r.fault()


class MediaTest(OnvifCase):
    """Two sources, thermal first under opaque tokens, and the URIs that stream them."""

    def test_thermal_first_under_opaque_tokens(self):
        sim = self.start("--rtsp-port", "0")
        tokens, owners = sources_and_profiles(sim.port)
        self.assertEqual(len(tokens), 2)
        self.assertEqual(sorted(owners), sorted(tokens))
        for token in tokens:
            self.assertNotRegex(token.lower(), r"^\d+$|thermal|visible|ir|color|main|sub")
        thermal = token_post(sim.port, THERMAL, call("tth", "GetConfigurations"))
        named = [c.get("token") for c in thermal.findall("tth:Configurations")]
        self.assertEqual(named, tokens[:1])
        self.assertEqual(thermal.text("tth:Polarity"), "WhiteHot")
        rtsp = "rtsp://127.0.0.1:%d/channels/" % sim.rtsp_port
        self.assertEqual(media1_uri(sim.port, owners[tokens[0]]), rtsp + "2")
        self.assertEqual(media1_uri(sim.port, owners[tokens[1]], "UDP"), rtsp + "1")
        self.assertEqual(media1_uri(sim.port, owners[tokens[0]], "HTTP"),
                         ("env:Sender", "ter:InvalidArgVal", "ter:InvalidStreamSetup"))
        self.assertEqual(media1_uri(sim.port, "nothing"),
                         ("env:Sender", "ter:InvalidArgVal", "ter:NoProfile"))
        # Nothing to learn by heart: another camera has other tokens.
        other = self.start()
        self.assertFalse(set(sources_and_profiles(other.port)[0]) & set(tokens))

    def test_media2_profiles_and_uris(self):
        sim = self.start("--rtsp-codec", "h265")
        tokens, owners = sources_and_profiles(sim.port)
        full = token_post(sim.port, MEDIA2, call("tr2", "GetProfiles", "<x:Type>All</x:Type>"))
        profiles = full.findall("tr2:Profiles")
        self.assertEqual([p.get("token") for p in profiles], [owners[t] for t in tokens])
        self.assertEqual([p.find(".//tr2:VideoSource/tt:SourceToken", NS).text
                          for p in profiles], tokens)
        self.assertEqual(full.text("tr2:VideoEncoder/tt:Encoding"), "H265")
        bare = token_post(sim.port, MEDIA2, call("tr2", "GetProfiles"))
        self.assertEqual(len(bare.findall("tr2:Profiles")), 2)
        self.assertIsNone(bare.find("tr2:Configurations"))
        rtsp = "rtsp://127.0.0.1:%d/channels/" % sim.rtsp_port
        self.assertEqual(media2_uri(sim.port, owners[tokens[0]]), rtsp + "2")
        self.assertEqual(media2_uri(sim.port, owners[tokens[1]], "RTSP"), rtsp + "1")
        self.assertEqual(media2_uri(sim.port, owners[tokens[1]], "RtspOverHttp")[:2],
                         ("env:Sender", "ter:InvalidArgVal"))

    def test_addresses_follow_the_host_asked_and_the_bad_address_fault(self):
        sim = self.start("--rtsp-port", "0")
        tokens, owners = sources_and_profiles(sim.port)
        self.assertEqual(media1_uri(sim.port, owners[tokens[1]], host="cam.test:%d" % sim.port),
                         "rtsp://cam.test:%d/channels/1" % sim.rtsp_port)
        self.assertEqual(services(sim.port, host="[::1]:80")[NS["tds"]],
                         "http://[::1]:%d%s" % (sim.port, DEVICE))
        # A Host header that is no address is not copied into a URI.
        self.assertEqual(services(sim.port, host="a<b>")[NS["tds"]],
                         "http://127.0.0.1:%d%s" % (sim.port, DEVICE))
        bad = self.start("--rtsp-port", "0", "--onvif-bad-address")
        tokens, owners = sources_and_profiles(bad.port)
        self.assertEqual(media1_uri(bad.port, owners[tokens[0]]),
                         "rtsp://0.0.0.0:%d/channels/2" % bad.rtsp_port)
        self.assertEqual(set(re.sub(r":\d+/.*", "", x) for x in services(bad.port).values()),
                         {"http://0.0.0.0"})
        without_rtsp = self.start()
        tokens, owners = sources_and_profiles(without_rtsp.port)
        self.assertEqual(media1_uri(without_rtsp.port, owners[tokens[0]]),
                         ("env:Receiver", "ter:ActionNotSupported"))


GROUP = ("239.255.255.250", 3702)


def probe(types="dn:NetworkVideoTransmitter", scopes=None):
    message_id = "urn:uuid:%s" % uuid.uuid4()
    scope_element = "<d:Scopes>%s</d:Scopes>" % scopes if scopes else ""
    return message_id, (
        '<?xml version="1.0" encoding="UTF-8"?>'
        '<e:Envelope xmlns:e="%s" xmlns:w="%s" xmlns:d="%s" '
        'xmlns:dn="http://www.onvif.org/ver10/network/wsdl">'
        '<e:Header><w:MessageID>%s</w:MessageID><w:To>urn:schemas-xmlsoap-org:ws:2005:04:'
        'discovery</w:To><w:Action>%s/Probe</w:Action></e:Header>'
        '<e:Body><d:Probe><d:Types>%s</d:Types>%s</d:Probe></e:Body></e:Envelope>'
        % (NS["env"], NS["wsa"], NS["wsd"], message_id, NS["wsd"], types,
           scope_element)).encode()


class DiscoveryTest(unittest.TestCase):
    """WS-Discovery, run in a network namespace the test makes for itself, so
    that no multicast ever leaves it."""

    def test_probe_in_a_namespace_of_its_own(self):
        if os.environ.get("CAMSIM_IN_NAMESPACE") == "1":
            self.skipTest("already inside the namespace")
        if os.geteuid() != 0:
            self.skipTest("making a network namespace needs root; multicast is never sent "
                          "outside one")
        if not shutil.which("unshare") or not shutil.which("ip"):
            self.skipTest("unshare or ip is missing: no network namespace, so no multicast is sent")
        if subprocess.run(["unshare", "--net", "true"], capture_output=True).returncode != 0:
            self.skipTest("unshare --net failed: no network namespace, so no multicast is sent")
        env = dict(os.environ, CAMSIM_IN_NAMESPACE="1")
        proc = subprocess.run(["unshare", "--net", sys.executable, os.path.abspath(__file__),
                               "-v", "InNamespaceDiscovery"],
                              capture_output=True, text=True, timeout=120, env=env)
        sys.stderr.write(proc.stderr)
        self.assertEqual(proc.returncode, 0)
        self.assertRegex(proc.stderr, r"Ran [1-9]\d* tests?")
        self.assertNotIn("skipped", proc.stderr)


class InNamespaceDiscovery(unittest.TestCase):
    """Run by DiscoveryTest inside its namespace, never on its own."""

    @classmethod
    def setUpClass(cls):
        if os.environ.get("CAMSIM_IN_NAMESPACE") != "1":
            raise unittest.SkipTest("runs only inside DiscoveryTest's namespace")
        # A fresh namespace holds loopback alone; anything else means this is
        # the machine's own network, where nothing may be sent to a group.
        names = [name for _, name in socket.if_nameindex()]
        if names != ["lo"]:
            raise AssertionError("not in a fresh network namespace: %s" % names)
        for command in (["ip", "link", "set", "lo", "up"],
                        ["ip", "link", "set", "lo", "multicast", "on"],
                        ["ip", "route", "add", "239.255.255.250/32", "dev", "lo"]):
            subprocess.run(command, check=True)

    def setUp(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.addCleanup(self.sock.close)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF,
                             socket.inet_aton("127.0.0.1"))
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)

    def start(self, *args):
        sim = Camsim("--listen", "127.0.0.1", *args)
        self.addCleanup(lambda: sim.stop() if sim.proc.poll() is None else None)
        return sim

    def replies(self, count, timeout):
        """The datagrams that arrive until count of them have or timeout seconds pass."""
        got, deadline = [], time.monotonic() + timeout
        while len(got) < count:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.sock], [], [], left)[0]:
                break
            got.append(self.sock.recvfrom(65536))
        return got

    def test_answers_a_probe_unicast_with_its_addresses(self):
        sim = self.start("--ws-discovery")
        self.assertRegex(sim.proc.stdout.readline(), r"^camsim ws-discovery on 127\.0\.0\.1 ")
        message_id, message = probe()
        self.sock.sendto(message, GROUP)
        got = self.replies(1, 10)
        self.assertEqual(len(got), 1)
        data, sender = got[0]
        self.assertEqual(sender, ("127.0.0.1", 3702))
        reply = Reply(200, data, {})
        self.assertEqual(reply.text("wsa:RelatesTo"), message_id)
        self.assertRegex(reply.text("wsa:EndpointReference/wsa:Address"),
                         r"^urn:uuid:[0-9a-f-]{36}$")
        self.assertIn("dn:NetworkVideoTransmitter", reply.text("wsd:Types").split())
        self.assertIn("onvif://www.onvif.org/name/camsim", reply.text("wsd:Scopes").split())
        xaddr = reply.text("wsd:XAddrs")
        self.assertEqual(xaddr, "http://127.0.0.1:%d%s" % (sim.port, DEVICE))
        host, port = re.match(r"http://([\d.]+):(\d+)/", xaddr).groups()
        self.assertEqual(post(int(port), DEVICE,
                              envelope(call("tds", "GetSystemDateAndTime"))).status, 200)

    def test_probes_for_something_else_are_not_answered(self):
        sim = self.start("--ws-discovery", "--onvif-bad-address")

        def counted(kind):
            return sim.state()["requests"].get(kind, 0)
        for types, scopes in (("dn:Printer", None),
                              ("dn:NetworkVideoTransmitter", "onvif://www.onvif.org/name/other")):
            self.sock.sendto(probe(types, scopes)[1], GROUP)
        # The simulator counts each probe it has read; once both are counted
        # no reply can be on its way.
        self.assertTrue(test_camsim.wait_until(lambda: counted("wsDiscoveryProbes") == 2))
        self.assertEqual(self.replies(1, 0), [])
        self.assertEqual(counted("wsDiscoveryMatches"), 0)
        # A scope prefix on a segment boundary matches; the bad address fault
        # reaches the XAddrs too.
        self.sock.sendto(probe(scopes="onvif://www.onvif.org/name")[1], GROUP)
        got = self.replies(1, 10)
        self.assertEqual(len(got), 1)
        self.assertRegex(Reply(200, got[0][0], {}).text("wsd:XAddrs"),
                         r"^http://0\.0\.0\.0:\d+/onvif/device_service$")
        self.assertEqual(counted("wsDiscoveryMatches"), 1)

    def test_without_the_option_nothing_answers(self):
        self.start()
        self.sock.sendto(probe()[1], GROUP)
        # Nothing can be waited for here but the time a reply would take.
        self.assertEqual(self.replies(1, 2), [])


if __name__ == "__main__":
    unittest.main()
