#!/usr/bin/env python3
"""Builds SMS-DELIVER PDUs as a modem prints them in PDU mode.

Used to make the demo's message file and fixed test vectors:
    makepdus.py demo MODEMS        prints "<modem> <pdu>" lines (modems from 1) for a demo bank
    makepdus.py one TEXT [SENDER]  prints the PDUs of one message, one per line
"""
import sys

BASIC = ("@£$¥èéùìòÇ\nØø\rÅåΔ_ΦΓΛΩΠΨΣΘΞ\x1bÆæßÉ !\"#¤%&'()*+,-./0123456789:;<=>?"
         "¡ABCDEFGHIJKLMNOPQRSTUVWXYZÄÖÑÜ§¿abcdefghijklmnopqrstuvwxyzäöñüà")
EXT = {"\f": 0x0A, "^": 0x14, "{": 0x28, "}": 0x29, "\\": 0x2F, "[": 0x3C, "~": 0x3D, "]": 0x3E,
       "|": 0x40, "€": 0x65}


def septets(text):
    out = []
    for ch in text:
        if ch in EXT:
            out += [0x1B, EXT[ch]]
        else:
            i = BASIC.find(ch)
            if i < 0:
                return None
            out.append(i)
    return out


def pack(seps, fill):
    bits, nbits, out = 0, fill, bytearray()
    for s in seps:
        bits |= s << nbits
        nbits += 7
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits > 0:
        out.append(bits & 0xFF)
    return bytes(out)


def swap_digits(digits):
    if len(digits) % 2:
        digits += "F"
    return "".join(digits[i + 1] + digits[i] for i in range(0, len(digits), 2))


def address(sender):
    if sender.lstrip("+").isdigit():
        ton = "91" if sender.startswith("+") else "81"
        digits = sender.lstrip("+")
        return "%02X%s%s" % (len(digits), ton, swap_digits(digits))
    packed = pack(septets(sender), 0)
    nsemi = (len(septets(sender)) * 7 + 3) // 4
    return "%02XD0%s" % (nsemi, packed.hex().upper())


def stamp():
    return swap_digits("261206") + swap_digits("103000") + "23"


SMSC = "0891683108200505F0"


def deliver(sender, dcs, udl, ud_hex, udhi):
    first = 0x44 if udhi else 0x04
    return "%s%02X%s00%02X%s%02X%s" % (SMSC, first, address(sender), dcs, stamp(), udl, ud_hex)


def message(text, sender, ref=0x42, sixteen=False):
    seps = septets(text)
    if seps is not None:
        if len(seps) <= 160:
            return [deliver(sender, 0x00, len(seps), pack(seps, 0).hex().upper(), False)]
        hlen = 7 if sixteen else 6
        room = (140 - hlen) * 8 // 7
        chunks, cur = [], []
        for s in seps:
            if len(cur) >= room:
                chunks.append(cur)
                cur = []
            cur.append(s)
        chunks.append(cur)
        return [concat7(sender, c, i + 1, len(chunks), ref, sixteen) for i, c in enumerate(chunks)]
    units = text.encode("utf-16-be")
    if len(units) <= 140:
        return [deliver(sender, 0x08, len(units), units.hex().upper(), False)]
    room = 140 - (7 if sixteen else 6)
    room -= room % 2
    parts = [units[i:i + room] for i in range(0, len(units), room)]
    out = []
    for i, p in enumerate(parts):
        udh = header(i + 1, len(parts), ref, sixteen)
        out.append(deliver(sender, 0x08, len(udh) + len(p), (udh + p).hex().upper(), True))
    return out


def header(index, count, ref, sixteen):
    if sixteen:
        return bytes([6, 8, 4, ref >> 8 & 0xFF, ref & 0xFF, count, index])
    return bytes([5, 0, 3, ref & 0xFF, count, index])


def concat7(sender, seps, index, count, ref, sixteen):
    udh = header(index, count, ref, sixteen)
    fill = (7 - (len(udh) * 8) % 7) % 7
    body = pack(seps, fill)
    hsept = (len(udh) * 8 + fill) // 7
    return deliver(sender, 0x00, hsept + len(seps), (udh + body).hex().upper(), True)


DEMO = [
    ("10086", "您的验证码是 482913，5分钟内有效。请勿泄露给他人。"),
    ("+8613912345678", "Meet me at 8pm @ the café? Bring 20€ for tickets [row 3] {seat 7}."),
    ("MyBank", "Your OTP is 551204. Contact support@mybank.example for help."),
    ("13800138000", "今晚一起吃饭吗？🍜🍣 我请客！"),
    ("Google", "G-731495 is your Google verification code."),
    ("+447700900123", "Long update: " + "The shipment left the warehouse at 06:10 and is due by noon; "
     "tracking shows it passed the regional hub. Signature needed on delivery; leave a note "
     "if nobody is home. Questions? Write to ops@example.com or call back ~ thanks!"),
    ("95588", "【工商银行】尊敬的客户：您尾号8836的账户于12月6日10:21支出人民币1,250.00元，"
     "余额为人民币23,118.46元。如非本人操作，请立即致电95588。感谢您的支持，祝您生活愉快！🎉"),
    ("1065502", "Weekly report: all 64 modems online, 0 errors | queue empty ^_^ \\o/"),
]


def main():
    if len(sys.argv) >= 2 and sys.argv[1] == "demo":
        modems = int(sys.argv[2]) if len(sys.argv) > 2 else 8
        ref = 0x10
        for m in range(modems):
            for k in range(3):
                sender, text = DEMO[(m + k) % len(DEMO)]
                ref += 1
                for pdu in message(text, sender, ref, sixteen=(ref % 2 == 0)):
                    print("%d %s" % (m + 1, pdu))
        return
    if len(sys.argv) >= 3 and sys.argv[1] == "one":
        for pdu in message(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else "13800138000"):
            print(pdu)
        return
    print(__doc__.strip(), file=sys.stderr)
    sys.exit(2)


if __name__ == "__main__":
    main()
