#!/usr/bin/env python3
"""Writes the seed inputs of the platform fuzz targets (ubusd, libubus,
blobmsg_json, uci, pam_reply) and of fleetd's broker tap (fleet_tap) under tests/data/fuzz/<target>/, from the
captured bus session and the golden blobmsg files. Run from anywhere; saved
finds (other files in those folders) are left alone."""
import pathlib
import re
import shutil
import struct

ROOT = pathlib.Path(__file__).resolve().parents[2]
DATA = ROOT / "tests" / "data"
OUT = DATA / "fuzz"

# Message kinds and attributes of the bus wire format.
HELLO, STATUS, DATA_MSG, PING, LOOKUP, INVOKE, ADD_OBJECT, REMOVE_OBJECT = range(8)
A_STATUS, A_OBJPATH, A_OBJID, A_METHOD, A_OBJTYPE, A_SIGNATURE, A_DATA = range(1, 8)
A_NO_REPLY = 10
B_NESTED, B_STRING, B_INT8, B_INT32 = 1, 3, 4, 6
M_TABLE, M_STRING, M_INT32, M_INT8 = 2, 3, 5, 7

# The ids a daemon seeded with 1 hands out: client, object type, object.
CLIENT, TYPE, OBJECT = 1791095845, 4282876139, 3093770124


def pad(b):
    return b + b"\0" * (-len(b) % 4)


def blob(attr_id, payload, extended=False):
    head = (0x80000000 if extended else 0) | (attr_id << 24) | (4 + len(payload))
    return pad(struct.pack(">I", head) + payload)


def s(text):
    return text.encode() + b"\0"


def msg_attr(mtype, name, value):
    """A blobmsg attribute: name header padded, then the value."""
    name_part = pad(struct.pack(">I", 0) + struct.pack(">H", len(name)) + s(name))[4:]
    return blob(mtype, name_part + value, extended=True)


def m_str(name, text):
    return msg_attr(M_STRING, name, s(text))


def m_u32(name, v):
    return msg_attr(M_INT32, name, struct.pack(">I", v))


def m_bool(name, v):
    return msg_attr(M_INT8, name, bytes([1 if v else 0]))


def m_table(name, *members):
    return msg_attr(M_TABLE, name, b"".join(members))


def message(mtype, seq, peer, *attrs):
    body = b"".join(attrs)
    return struct.pack(">BBHI", 0, mtype, seq, peer) + struct.pack(">I", 4 + len(body)) + body


def u32(attr_id, v):
    return blob(attr_id, struct.pack(">I", v))


def string(attr_id, text):
    return blob(attr_id, s(text))


def nested(attr_id, *members):
    return blob(attr_id, b"".join(members))


SIGNATURE = nested(A_SIGNATURE,
                   m_table("hello", m_u32("id", M_INT32), m_u32("msg", M_STRING)),
                   m_table("later"))
HELLO_ARGS = nested(A_DATA, m_u32("id", 1), m_str("msg", "hi"))


def captured_streams():
    """The captured session's bytes by direction, per section."""
    text = (DATA / "ubus" / "call-session.txt").read_text()
    sections = re.split(r"\n## ", text)[1:]
    out = []
    for sec in sections:
        streams = {"client->ubusd": b"", "ubusd->client": b""}
        for m in re.finditer(r"^(client->ubusd|ubusd->client) \(\d+ bytes\)[^\n]*\n((?:  [0-9a-f ]+\n)+)", sec, re.M):
            streams[m.group(1)] += bytes.fromhex("".join(m.group(2).split()))
        out.append(streams)
    return out


def daemon_seeds():
    cap = captured_streams()
    register = message(ADD_OBJECT, 1, 0, string(A_OBJPATH, "test"), SIGNATURE)
    call = [
        message(LOOKUP, 2, 0, string(A_OBJPATH, "test")),
        message(LOOKUP, 3, 0, string(A_OBJPATH, "te*")),
        message(LOOKUP, 4, 0),
        message(INVOKE, 5, OBJECT, u32(A_OBJID, OBJECT), string(A_METHOD, "hello"), HELLO_ARGS),
        # The owner (the same client) answers the invoke.
        message(DATA_MSG, 5, CLIENT, u32(A_OBJID, OBJECT), nested(A_DATA, m_str("message", "hi"))),
        message(STATUS, 5, CLIENT, u32(A_STATUS, 0), u32(A_OBJID, OBJECT)),
        message(INVOKE, 6, OBJECT, u32(A_OBJID, OBJECT), string(A_METHOD, "later"),
                blob(A_NO_REPLY, b"\1")),
        message(INVOKE, 7, OBJECT, u32(A_OBJID, OBJECT), string(A_METHOD, "hello"), HELLO_ARGS),
        message(PING, 8, 0),
    ]
    again = message(ADD_OBJECT, 9, 0, string(A_OBJPATH, "test2"), u32(A_OBJTYPE, TYPE))
    remove = message(REMOVE_OBJECT, 10, 0, u32(A_OBJID, OBJECT))
    return {
        "seed-01-call.bin": cap[0]["client->ubusd"],
        "seed-02-serve.bin": cap[1]["client->ubusd"],
        "seed-03-register-call-answer.bin": register + b"".join(call),
        "seed-04-type-reuse-remove.bin": register + again + remove + call[0],
        "seed-05-pending-at-hangup.bin": register + call[3],
    }


def client_seeds():
    cap = captured_streams()
    me, caller = 0x1d7d0c3d, 0x2c41a0f3
    obj, typ = 0x97bd22ac, 0xc8c8d6ca
    ok = lambda seq, peer=0: message(STATUS, seq, peer, u32(A_STATUS, 0))
    found = message(DATA_MSG, 0, 0, string(A_OBJPATH, "fuzz"), u32(A_OBJID, obj), u32(A_OBJTYPE, typ), SIGNATURE)
    hello = message(HELLO, 0, me)
    replies = [
        message(DATA_MSG, 1, 0, u32(A_OBJID, obj), u32(A_OBJTYPE, typ)), ok(1),
        found[:2] + struct.pack(">H", 2) + found[4:], ok(2),
        found[:2] + struct.pack(">H", 3) + found[4:], ok(3),
        message(DATA_MSG, 4, obj, u32(A_OBJID, obj), nested(A_DATA, m_str("message", "hi"))),
        message(STATUS, 4, obj, u32(A_STATUS, 0), u32(A_OBJID, obj)),
    ]
    invokes = [
        message(INVOKE, 7, caller, u32(A_OBJID, obj), string(A_METHOD, "hello"), HELLO_ARGS),
        message(INVOKE, 8, caller, u32(A_OBJID, obj), string(A_METHOD, "later")),
        message(INVOKE, 9, caller, u32(A_OBJID, obj), string(A_METHOD, "nope"), blob(A_NO_REPLY, b"\1")),
    ]
    return {
        "seed-01-call.bin": cap[0]["ubusd->client"],
        "seed-02-serve.bin": cap[1]["ubusd->client"],
        "seed-03-replies.bin": hello + b"".join(replies),
        "seed-04-replies-invokes.bin": hello + b"".join(replies) + b"".join(invokes),
        "seed-05-invoke-while-waiting.bin": hello + replies[0] + invokes[0] + b"".join(replies[1:]),
    }


def reply(*members):
    return nested(A_DATA, *members)


def pam_seeds():
    return {
        "seed-01-granted.bin": reply(m_str("ubus_rpc_session", "c0ffee0123456789c0ffee0123456789")),
        "seed-02-concurrent.bin": reply(m_bool("concurrent_session", True)),
        "seed-03-blocked.bin": reply(m_u32("blocked_for", 30)),
        "seed-04-empty.bin": reply(),
        "seed-05-all.bin": reply(m_str("ubus_rpc_session", "x"), m_bool("concurrent_session", False),
                                 m_u32("blocked_for", 5)),
    }


UCI = {
    "seed-01-network.txt": """config interface 'lan'
\toption proto 'static'
\toption ipaddr '192.168.1.1'
\tlist dns '192.168.1.2'
\tlist dns "10.0.0.1"

config interface wan
\toption proto dhcp
""",
    "seed-02-anonymous.txt": """package fuzz

config wifi-iface
\toption device radio0
\toption ssid 'My AP'
\toption key "se'cr\\"et"

config wifi-iface
\toption device radio1 # comment
""",
    "seed-03-escapes.txt": """config system
\toption hostname 'ap-'\\''1'
\toption notes 'a \\
b'
\tlist servers '0.openwrt.pool.ntp.org' '1.openwrt.pool.ntp.org'
""",
}


def fleet_tap_seeds():
    """A topic choice byte (see fleet_tap_inputs.h), then the payload: one
    blob attribute as the log service streams it, or a command table."""
    def u64(name, v):
        return msg_attr(4, name, struct.pack(">Q", v))  # BLOBMSG_TYPE_INT64
    entry = blob(0, m_str("msg", "hostapd: wlan0: STA associated") + m_u32("id", 3) + m_u32("priority", 30)
                 + m_u32("source", 1) + u64("time", 1700000000000))
    return {
        "seed-01-log-entry.bin": bytes([0]) + entry,
        "seed-02-channel-command.bin": bytes([1]) + blob(0, m_u32("channel", 36)),
        "seed-03-power-to-all.bin": bytes([2]) + blob(0, m_u32("power", 14)),
        "seed-04-both.bin": bytes([1]) + blob(0, m_u32("channel", 11) + m_u32("power", 17)),
    }


def write(target, files):
    d = OUT / target
    d.mkdir(parents=True, exist_ok=True)
    for name, content in files.items():
        (d / name).write_bytes(content if isinstance(content, bytes) else content.encode())


def main():
    write("ubusd", daemon_seeds())
    write("libubus", client_seeds())
    write("pam_reply", pam_seeds())
    write("uci", UCI)
    write("fleet_tap", fleet_tap_seeds())
    d = OUT / "blobmsg_json"
    d.mkdir(parents=True, exist_ok=True)
    for f in sorted((DATA / "blobmsg").glob("*.json")):
        shutil.copy(f, d / ("seed-" + f.name))


if __name__ == "__main__":
    main()
