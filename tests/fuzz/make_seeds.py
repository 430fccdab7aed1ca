#!/usr/bin/env python3
"""Writes the seed corpora of the receiver, settings, log-name and text
buffer targets (the ZMODEM frame corpus is kept as it stands). Run from
this folder; the files are small valid and near-valid inputs."""

import os
import struct

SOH, STX, EOT, CAN = 0x01, 0x02, 0x04, 0x18


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


def block(number, body, crc=True, size=128):
    body = body.ljust(size, b"\x1a")
    check = struct.pack(">H", crc16(body)) if crc else bytes([sum(body) & 0xFF])
    return bytes([SOH if size == 128 else STX, number & 0xFF, 255 - (number & 0xFF)]) + body + check


def header(text, size=128):
    return block(0, text.ljust(size, b"\0"), size=size)


def corrupt(frame):
    return frame[:-1] + bytes([frame[-1] ^ 0xFF])


def write(folder, name, data):
    os.makedirs(os.path.join("corpus", folder), exist_ok=True)
    with open(os.path.join("corpus", folder, name), "wb") as f:
        f.write(data)


TEXT = bytes(range(32, 127)) * 11

# XMODEM: mode byte (variant 0 sum/128, 1 CRC/128, 2 CRC/1024; 0x10 streams).
b1 = block(1, TEXT[:128])
xmodem = {
    "sum128": bytes([0]) + block(1, TEXT[:128], crc=False) + block(2, b"end", crc=False) + bytes([EOT]),
    "crc128": bytes([1]) + b1 + block(2, TEXT[128:256]) + bytes([EOT]),
    "crc1k": bytes([2]) + block(1, TEXT[:1024], size=1024) + block(2, b"x") + bytes([EOT]),
    "retry": bytes([1]) + corrupt(b1) + b1 + bytes([EOT]),
    "duplicate": bytes([1]) + b1 + b1 + bytes([EOT]),
    "bad_complement": bytes([1]) + b1[:2] + b"\x00" + b1[3:] + bytes([EOT]),
    "cancel": bytes([1]) + b1 + bytes([CAN, CAN]),
    "lone_can": bytes([1]) + bytes([CAN]) + b1 + bytes([EOT]),
    "truncated": bytes([2]) + block(1, TEXT, size=1024)[:600],
    "out_of_order": bytes([1]) + block(3, b"three") + bytes([EOT]),
    "streaming": bytes([0x11]) + b1 + block(2, b"two") + bytes([EOT]),
    "noise": bytes([1]) + b"\x00\xff\x7f" * 40 + b1 + bytes([EOT]),
}
for name, data in xmodem.items():
    write("xmodem_block", name, data)

# YMODEM: mode byte (bit 0 streams, YMODEM-G), then the batch.
data1k = block(1, TEXT[:1024], size=1024)
end = bytes([EOT]) + header(b"")
ymodem = {
    "one_file": b"\0" + header(b"file.txt\x00" + b"1000 14567123456") + data1k + end,
    "one_file_g": b"\1" + header(b"file.txt\x00" + b"1000") + data1k + end,
    "header_1k": b"\0" + header(b"big.bin\x00" + b"130 0", size=1024) + block(1, TEXT[:130]) + end,
    "empty_batch": b"\0" + header(b""),
    "short_data": b"\0" + header(b"a\x00" + b"5000") + data1k + end,
    "huge_size": b"\0" + header(b"a\x00" + b"99999999999999") + data1k + end,
    "long_name": b"\0" + header(b"n" * 128) + data1k + end,
    "data_first": b"\0" + data1k + header(b"late\x0010") + end,
    "eot_twice": b"\0" + header(b"t\x003") + block(1, b"abc") + bytes([EOT, EOT]) + header(b""),
    "bad_header": b"\0" + corrupt(header(b"x\x001")) + header(b"x\x001") + block(1, b"y") + end,
    "next_file": b"\0" + header(b"a\x001") + block(1, b"y") + bytes([EOT]) + header(b"b\x001"),
}
for name, data in ymodem.items():
    write("ymodem_header", name, data)

# M-LINK: the header line, then the data.
mlink = {
    "small": b"hello.txt 5 2024/01/02 03:04:05\rhello",
    "two_chunks": b"data.bin 2000 2024/01/02 03:04:05\r" + (TEXT * 2)[:2000],
    "zero_size": b"empty 0 2024/01/02 03:04:05\r",
    "negative": b"neg -5 2024/01/02 03:04:05\rhello",
    "huge_size": b"big 99999999999 x\r" + TEXT[:100],
    "abort_esc": b"name\x1b",
    "abort_can": b"na\x18",
    "no_end": b"x 10 " + b"y" * 1500,
    "short_data": b"s 3000 d\r" + TEXT[:1000],
    "sjis_name": b"\x83\x65\x83\x4c\x83\x58\x83\x67.txt 4 2024/01/02 03:04:05\rtext",
    "long_name": b"n" * 1100 + b" 4 d\rdata",
}
for name, data in mlink.items():
    write("mlink_header", name, data)

# Settings file.
modem = [b"1", b"38400", b"ATD", b"ATZ", b"", b"", b"", b"", b"", b""]
entry = [b"\x90\x56\x8b\x4b\x93\x6f\x98\x5e\x83\x6c\x83\x62\x83\x67", b"0312345678",
         b"%Y%M%D.log", b"", b"", b"", b"", b"", b"", b""]
crlf = lambda lines: b"".join(l + b"\r\n" for l in lines)
settings = {
    "defaults": crlf(modem),
    "phone_book": crlf(modem + entry + entry),
    "lf_only": b"\n".join(modem + entry) + b"\n",
    "cr_only": b"\r".join(modem) + b"\r",
    "mixed_ends": b"2\r\n9600\nATDT\rATZ\r\n\n\r\n/dev/ttyUSB0",
    "short": b"3\r\n",
    "no_line_end": b"4",
    "empty": b"",
    "bad_sjis": crlf([b"1", b"\x81", b"\xfd\xfe\xff", b"\x82\x00", b"virtual:x"]),
    "huge_line": crlf([b"1", b"9" * 5000]),
    "odd_numbers": crlf([b" +4 ", b"-2147483649", b"ATD", b"ATZ"]),
}
for name, data in settings.items():
    write("settings_file", name, data)

# Log name: eight bytes of clock, then the template.
t = lambda s: struct.pack("<q", s)
logname = {
    "default": t(1700000000) + b"%Y%M%D.log",
    "all_codes": t(951782400) + b"KEL%y%M%D%H%I.LOG",
    "unknown_codes": t(0) + b"%%%Z%a%",
    "sjis": t(1700000000) + b"\x83\x8d\x83\x4f%Y.txt",
    "before_1900": t(-3000000000) + b"%Y_%y",
    "far_future": t(2 ** 40) + b"%y%M",
    "short_clock": b"\x01\x02",
}
for name, data in logname.items():
    write("log_name", name, data)

# Text buffer: notification size - 1, then the bytes.
text = {
    "lines": b"\x0f" + b"hello\r\nworld\r\nlast",
    "backspace": b"\x03" + b"ab\b\bc\b\b\b\rx\b\r",
    "sjis": b"\x00" + b"\x82\xa0\x82\xa2\x82\xa4\r\x83\x65\x83\x4c\r\x82",
    "controls": b"\xff" + bytes(range(32)) * 3,
    "long_line": b"\x7f" + TEXT * 5 + b"\r",
    "many_lines": b"\x40" + b"\r" * 300,
}
for name, data in text.items():
    write("text_buffer", name, data)
