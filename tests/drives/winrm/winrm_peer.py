#!/usr/bin/python3
"""A WinRM service for the tests that shares no code with the client.

python3-gssapi accepts the security context (Kerberos from the keytab of
KRB5_KTNAME, NTLM through gss-ntlmssp and NTLM_USER_FILE), and python3-winrm's
Encryption class frames, seals, unseals and length-checks every body, as that
widely used client does. Like a strict Windows service it answers HTTP 400 to
a body whose Content-Type is not exactly the one of its scheme.

Usage: winrm_peer.py SECONDS CLASS=NAMESPACE=ITEMS.xml ...
Listens on 127.0.0.1 at a port the kernel picks and prints "PORT n". Prints
"MECH kerberos|ntlm" per completed handshake, "SEALED <action>" per request
it unsealed, "REFUSED <why>" per body it refused. Ends on end of input or after
SECONDS.
"""

import base64
import http.server
import re
import sys
import threading
import uuid
import xml.etree.ElementTree as ET

try:
    import gssapi
    import gssapi.raw as graw
    import requests
    from winrm.encryption import Encryption
except ImportError as missing:  # the test skips with this reason
    print("MISSING %s" % missing, flush=True)
    sys.exit(3)

NS = {
    "s": "http://www.w3.org/2003/05/soap-envelope",
    "a": "http://schemas.xmlsoap.org/ws/2004/08/addressing",
    "n": "http://schemas.xmlsoap.org/ws/2004/09/enumeration",
    "w": "http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd",
}
ENUMERATE = NS["n"] + "/Enumerate"
lock = threading.Lock()
classes = {}  # lower-case class name -> (resource URI, items XML)


def say(line):
    with lock:
        print(line, flush=True)


class KerberosAuth:
    """What Encryption asks of requests-kerberos: wrap_winrm and unwrap_winrm,
    the IOV wrap with header, data and padding buffers."""

    def __init__(self, context):
        self.context = context

    def wrap_winrm(self, host, message):
        iov = graw.IOV(graw.IOVBufferType.header, message, graw.IOVBufferType.padding, std_layout=False)
        graw.wrap_iov(self.context, iov, confidential=True)
        return iov[1].value + (iov[2].value or b""), iov[0].value

    def unwrap_winrm(self, host, message, signature):
        iov = graw.IOV((graw.IOVBufferType.header, False, signature), message, std_layout=False)
        result = graw.unwrap_iov(self.context, iov)
        if not result.encrypted:
            raise ValueError("signed but not sealed")
        return iov[1].value


class NtlmSecurity:
    """What Encryption asks of requests-ntlm's session_security."""

    def __init__(self, context):
        self.context = context

    def wrap(self, message):
        token = self.context.wrap(message, True).message
        return token[16:], token[:16]

    def unwrap(self, message, signature):
        result = self.context.unwrap(signature + message)
        if not result.encrypted:
            raise ValueError("signed but not sealed")
        return result.message


class Holder:
    def __init__(self, **kw):
        self.__dict__.update(kw)


def answer(soap):
    root = ET.fromstring(soap)
    action = root.findtext("s:Header/a:Action", "", NS).strip()
    message_id = root.findtext("s:Header/a:MessageID", "", NS).strip()
    resource = root.findtext("s:Header/w:ResourceURI", "", NS).strip()
    query = root.findtext("s:Body/n:Enumerate/w:Filter", "", NS).strip()
    match = re.match(r"(?i)select \* from (\w+)$", query)
    known = classes.get(match.group(1).lower()) if match else None
    if action != ENUMERATE or known is None or known[0] != resource:
        return 500, envelope(NS["a"] + "/fault", message_id,
                             "<s:Fault><s:Code><s:Value>s:Sender</s:Value></s:Code><s:Reason>"
                             "<s:Text xml:lang=\"en-US\">Not served by this peer.</s:Text></s:Reason></s:Fault>"), action
    body = ("<n:EnumerateResponse><w:Items>" + known[1] + "</w:Items><w:EndOfSequence/></n:EnumerateResponse>")
    return 200, envelope(ENUMERATE + "Response", message_id, body), action


def envelope(action, relates_to, body):
    return ('<s:Envelope xmlns:s="%s" xmlns:a="%s" xmlns:n="%s" xmlns:w="%s"><s:Header><a:Action>%s</a:Action>'
            "<a:MessageID>uuid:%s</a:MessageID><a:RelatesTo>%s</a:RelatesTo></s:Header><s:Body>%s</s:Body>"
            "</s:Envelope>" % (NS["s"], NS["a"], NS["n"], NS["w"], action, str(uuid.uuid4()).upper(), relates_to,
                               body)).encode("utf-8")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def setup(self):
        super().setup()
        self.context = None
        self.encryption = None

    def log_message(self, *args):
        pass

    def send(self, status, headers=(), body=b""):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        authorization = self.headers.get("Authorization")
        if authorization:
            self.authenticate(authorization)
        elif self.encryption is None:
            self.send(401, [("WWW-Authenticate", "Negotiate")])
        else:
            self.sealed(body)

    def authenticate(self, authorization):
        scheme, _, token = authorization.partition(" ")
        if scheme != "Negotiate":
            self.send(401, [("WWW-Authenticate", "Negotiate")])
            return
        if self.encryption is not None or self.context is None:
            self.encryption = None
            self.context = gssapi.SecurityContext(usage="accept")
        try:
            out = self.context.step(base64.b64decode(token))
        except gssapi.exceptions.GSSError as error:
            say("REFUSED authentication: %s" % error)
            self.context = None
            self.send(401, [("WWW-Authenticate", "Negotiate")])
            return
        headers = [("WWW-Authenticate", "Negotiate " + base64.b64encode(out).decode())] if out else []
        if not self.context.complete:
            self.send(401, headers)
            return
        if self.context.mech == gssapi.MechType.kerberos:
            self.encryption = Encryption(Holder(auth=KerberosAuth(self.context)), "kerberos")
            say("MECH kerberos")
        else:
            self.encryption = Encryption(Holder(auth=Holder(session_security=NtlmSecurity(self.context))), "ntlm")
            say("MECH ntlm")
        self.send(200, headers)

    def sealed(self, body):
        content_type = self.headers.get("Content-Type", "")
        expected = 'multipart/encrypted;protocol="%s";boundary="Encrypted Boundary"' % (
            self.encryption.protocol_string.decode())
        if content_type != expected:
            say("REFUSED content type %s" % content_type)
            self.send(400)
            return
        try:
            soap = self.encryption._decrypt_response(Holder(content=body), "localhost")
        except Exception as error:  # a broken frame or seal is the client's fault
            say("REFUSED body: %r" % error)
            self.send(400)
            return
        status, reply, action = answer(soap)
        say("SEALED %s" % action)
        prepared = self.encryption.prepare_encrypted_request(requests.Session(), "http://localhost/wsman", reply)
        self.send(status, [("Content-Type", prepared.headers["Content-Type"])], prepared.body)


def main():
    seconds = float(sys.argv[1])
    for served in sys.argv[2:]:
        name, namespace, path = served.split("=", 2)
        with open(path, encoding="utf-8") as f:
            uri = "http://schemas.microsoft.com/wbem/wsman/1/wmi/" + namespace.lower().replace("\\", "/") + "/*"
            classes[name.lower()] = (uri, f.read())
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    say("PORT %d" % server.server_address[1])
    stopper = threading.Thread(target=sys.stdin.read, daemon=True)
    stopper.start()
    stopper.join(seconds)
    server.shutdown()
    server.server_close()


if __name__ == "__main__":
    main()
