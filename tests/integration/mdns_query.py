"""A one-shot mDNS query as a legacy unicast resolver sends it (RFC 6762 6.7): the
responder answers the source port directly with its current records, so the
answer says what is advertised now, not what some cache remembers."""

import random
import socket
import struct

A, PTR, TXT, SRV = 1, 12, 16, 33
GROUP = ("224.0.0.251", 5353)


def _encode_name(name):
    out = b""
    for label in name.rstrip(".").split("."):
        out += bytes([len(label)]) + label.encode()
    return out + b"\0"


def _read_name(packet, at):
    """(name, offset after the name), following compression pointers."""
    labels, end = [], None
    while True:
        length = packet[at]
        if length & 0xC0 == 0xC0:
            if end is None:
                end = at + 2
            at = struct.unpack_from("!H", packet, at)[0] & 0x3FFF
            continue
        at += 1
        if length == 0:
            break
        labels.append(packet[at:at + length].decode())
        at += length
    return ".".join(labels), (end if end is not None else at)


def _parse(packet):
    """Every answer and additional record as (name, type, value)."""
    _, _, questions, answers, authority, additional = struct.unpack_from("!6H", packet)
    at = 12
    for _ in range(questions):
        _, at = _read_name(packet, at)
        at += 4
    records = []
    for _ in range(answers + authority + additional):
        name, at = _read_name(packet, at)
        rtype, _, _, length = struct.unpack_from("!HHIH", packet, at)
        at += 10
        data = packet[at:at + length]
        if rtype == A:
            value = socket.inet_ntoa(data)
        elif rtype == PTR:
            value = _read_name(packet, at)[0]
        elif rtype == SRV:
            priority, weight, port = struct.unpack_from("!3H", data)
            value = (priority, weight, port, _read_name(packet, at + 6)[0])
        elif rtype == TXT:
            value, i = [], 0
            while i < len(data):
                value.append(data[i + 1:i + 1 + data[i]].decode())
                i += 1 + data[i]
        else:
            value = data
        records.append((name.lower(), rtype, value))
        at += length
    return records


def query(name, rtype, interface_address, timeout=0.5):
    """The values of the records of `rtype` named `name` that responders answer
    within `timeout` seconds, sent from `interface_address`."""
    ident = random.randrange(1, 0xFFFF)
    packet = struct.pack("!6H", ident, 0, 1, 0, 0, 0) + _encode_name(name) + struct.pack(
        "!HH", rtype, 1)
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
        sock.bind((interface_address, 0))
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF,
                        socket.inet_aton(interface_address))
        sock.settimeout(timeout)
        sock.sendto(packet, GROUP)
        values = []
        try:
            while True:
                reply, _ = sock.recvfrom(9000)
                if struct.unpack_from("!H", reply)[0] != ident:
                    continue
                for rname, kind, value in _parse(reply):
                    if rname == name.lower().rstrip(".") and kind == rtype and value not in values:
                        values.append(value)
        except socket.timeout:
            pass
        return values
