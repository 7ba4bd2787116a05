"""Packets, frames and the analyser through the bindings: arguments, text at
the edge, errors as Python exceptions, values as Python types."""

import copy
import pickle
import struct

import pytest

import mkp

ANSWER = mkp.Packet("0A0B0C", "010203", 7, 5, b"\x01\xe8\x03")
ANSWER_TEXT = "0A0B0C.010203.07.05.0300 - 01 E8 03 "


def test_fields_text_and_copies():
    p = mkp.Packet(dst=b"\x0a\x0b\x0c", src="010203", command=7, data_type=5, data=bytearray(b"\x01\xe8\x03"))
    assert (p.dst, p.src, p.command, p.data_type, p.data) == ("0A0B0C", "010203", 7, 5, b"\x01\xe8\x03")
    assert p == ANSWER and p != "x"
    assert str(p) == ANSWER_TEXT
    assert str(mkp.Packet("0a0b0c", "010203", 4, 0)) == "0A0B0C.010203.04.00.0000 - "
    assert eval(repr(p), {"Packet": mkp.Packet}) == p
    assert pickle.loads(pickle.dumps(p)) == p and copy.deepcopy(p) == p
    p.data = b""
    assert p != ANSWER
    with pytest.raises(TypeError):
        hash(p)


@pytest.mark.parametrize(
    "arguments",
    [
        ("01020", "010203", 1, 1),
        ("0102zz", "010203", 1, 1),
        (b"\x01\x02", "010203", 1, 1),
        ("010203", "010203", 256, 1),
        ("010203", "010203", 1, -1),
        ("010203", "010203", 1, 1, bytes(2049)),
    ],
)
def test_bad_arguments_are_value_errors(arguments):
    with pytest.raises(ValueError):
        mkp.Packet(*arguments)


def test_from_text_reads_pane_lines_and_says_why_not():
    assert mkp.Packet.from_text(ANSWER_TEXT) == ANSWER
    assert mkp.Packet.from_text("14:03:07.215 +16.042 <- 0A0B0C.010203.07.05.0300 - 01 E8 03 ") == ANSWER
    assert mkp.Packet.from_text("(0a 0b 0c, 01 02 03) 07 05 03 00 01 e8 03") == ANSWER
    row = "<010203.0A0B0C.06.05.0100 - 01 > [0A0B0C.010203.07.05.0300 - 01 E8 03 ]"  # a .smt row
    assert mkp.Packet.from_text(row) == mkp.Packet("010203", "0A0B0C", 6, 5, b"\x01")
    assert mkp.Packet.from_text(row[row.index("["):]) == ANSWER
    for text, reason in [("", "no packet text"), ("0A0B0C.010203.07.05.0300 - 01 E8 0", "odd"),
                         ("0A0B0C.010203.07", "fewer than"), ("0A0B0C.010203.07.05.0300 - 01", "announces 3")]:
        with pytest.raises(ValueError, match=reason):
            mkp.Packet.from_text(text)


def test_frames_and_checksums():
    frame = ANSWER.frame()
    assert bytes(ANSWER) == frame and len(frame) == 10 + 4 + 3 + 4
    assert struct.unpack("<I", frame[10:14])[0] == mkp.checksum(frame[:10])
    assert struct.unpack("<I", frame[17:])[0] == mkp.checksum(frame[14:17])
    assert mkp.checksum(memoryview(b"\x12\x34")) == 0x1234 and mkp.checksum(b"") == 0
    assert mkp.Packet.from_frame(frame) == ANSWER


@pytest.mark.parametrize(
    "change, reason",
    [
        (lambda f: f[:13], "at least 14 bytes"),
        (lambda f: f[:3] + b"\xff" + f[4:], "header checksum mismatch"),
        (lambda f: f[:15] + b"\x00" + f[16:], "data checksum mismatch"),
        (lambda f: f + b"\x00", "1 bytes after the end"),
        (lambda f: f[:-1], "truncated"),
    ],
)
def test_bad_frames_raise_frame_error_with_the_reason(change, reason):
    with pytest.raises(mkp.FrameError, match=reason) as caught:
        mkp.Packet.from_frame(change(ANSWER.frame()))
    assert isinstance(caught.value, ValueError) and isinstance(caught.value, mkp.Error)


def test_describe_takes_packets_text_and_the_analysers_switches():
    line = "010203>>0A0B0C ANSW type 05 : reg 01 = 1000 "
    assert mkp.describe(ANSWER) == line and mkp.describe(ANSWER_TEXT) == line
    assert mkp.describe(ANSWER, hex_types=[6]) == "010203>>0A0B0C ANSW type 05 : reg 01 = 03E8 "
    assert mkp.describe(ANSWER, align=True) == "010203>>0A0B0C ANSW type 05 : reg 01 = 1000  "
    assert mkp.describe(ANSWER) == line  # switches hold for one call only
    with pytest.raises(ValueError, match="no hex form"):
        mkp.describe(ANSWER, hex_types=[3])
    with pytest.raises(TypeError):
        mkp.describe(b"\x01")


def answer(data_type, data):
    """An answer of register 1 (odd types: the register byte comes first)."""
    return mkp.Packet("0A0B0C", "010203", 7, data_type, b"\x01" + data)


@pytest.mark.parametrize(
    "data_type, data, expected",
    [
        (1, b"\x01\x02\x0a", [1, 2, 10]),                       # BYTE: one int each
        (37, b"\x25\x99", [25, 99]),                             # BCD_BYTE
        (5, b"\x34\x12\x78\x56", [4660, 22136]),                 # WORD
        (7, b"\x80", [-128]),                                    # SHORTINT
        (9, b"\x00\x80", [-32768]),                              # INTEGER
        (11, b"\xff\xff\xff\xff", [4294967295]),                 # DWORD
        (39, b"\xff" * 8, [-1]),                                 # QWORD
        (25, struct.pack("<f", 1.0), [1.0]),                     # SINGLE
        (25, struct.pack("<f", float("inf")), [float("inf")]),
        (13, b"\xd7\x04", [21.5]),                               # L_SINGLE
        (3, b"AB\x00C", ["AB", "C"]),                            # string
        (3, "Привет".encode("cp1251") + b"\x00", ["Привет"]),   # Windows-1251 at the edge
        (29, "Ж".encode("utf-16-le") + b"\x00\x00", ["Ж"]),       # wide string
        (31, bytes.fromhex("e803070605040317"), ["4.3.23 5:6:7.1000"]),   # LONG_DATETIME
        (35, bytes.fromhex("2312312359580125"), ["2023.12.31 23:59:58.125"]),
        (33, b"\x01\x02\x03", ["3.2.1"]),                        # Vorel_ADDR
        (17, bytes.fromhex("0534127856"), [4660, 22136]),        # array of WORD
        (125, bytes.fromhex("020105073412"), [7, 4660]),         # struct (BYTE, WORD)
    ],
)
def test_values_of_every_type_family(data_type, data, expected):
    got = mkp.values(answer(data_type, data))
    assert got == expected
    assert [type(v) for v in got] == [type(v) for v in expected]


def test_register_names_are_windows_1251_at_the_edge():
    # A read by name (even type): the name travels in Windows-1251.
    read = mkp.Packet("010203", "0A0B0C", 6, 6, "Режим".encode("cp1251") + b"\x00")
    assert mkp.describe(read).endswith('RD type 06 : reg "Режим"')
    assert mkp.values(str(answer(1, b"\x05"))) == [5]
