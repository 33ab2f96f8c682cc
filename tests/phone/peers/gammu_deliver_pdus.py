"""Encodes SMS-DELIVER PDUs with python-gammu, an encoder independent of ours, for the
decoder test. Prints one line per PDU, tab-separated:

    PDU  service centre  sender  time stamp  text

where the last four are what the decoder must give, taken from what the encoder was given;
the text is written as hexadecimal Windows-1252 bytes (it may hold CR, LF and tabs)."""

import datetime
import sys

import gammu

ALPHABET = ("@£$¥èéùìòÇ\nØø\rÅå_ÆæßÉ !\"#¤%&'()*+,-./0123456789:;<=>?"
            "¡ABCDEFGHIJKLMNOPQRSTUVWXYZÄÖÑÜ§¿abcdefghijklmnopqrstuvwxyzäöñüà")
EXTENSION = "€[]{}~^|\\\f"


def stamp(when):
    return when.strftime("%d.%m.%y %H:%M,%S") + " ZZ00"


def emit(pdu, smsc, sender, when, text):
    fields = [pdu.hex().upper(), smsc, sender, stamp(when), text.encode("cp1252").hex().upper()]
    print("\t".join(fields))


def single(text, sender, smsc, when):
    sms = {"Number": sender, "SMSC": {"Number": smsc}, "Text": text, "DateTime": when,
           "Coding": "Default_No_Compression", "Class": -1, "Folder": 1, "InboxFolder": 1,
           "Memory": "SM", "Location": 1, "State": "UnRead", "Type": "Deliver"}
    emit(gammu.EncodePDU(sms, "Deliver"), smsc, sender, when, text)


def multipart(text, kind, sender, smsc, when):
    info = {"Class": -1, "Unicode": False, "Entries": [{"ID": kind, "Buffer": text}]}
    for part in gammu.EncodeSMS(info):
        part.update({"Number": sender, "SMSC": {"Number": smsc}, "DateTime": when,
                     "Folder": 1, "InboxFolder": 1, "Memory": "SM", "Location": 1,
                     "State": "UnRead", "Type": "Deliver"})
        emit(gammu.EncodePDU(part, "Deliver"), smsc, sender, when, part["Text"])


def main():
    when = datetime.datetime(2021, 7, 9, 18, 45, 3)
    senders = ["+491711234567", "+4917612345678", "01701234567", "0123456"]
    centres = ["+491710760000", "+46705008999"]
    n = 0
    for length in (1, 6, 7, 8, 9, 14, 15, 16, 17, 50, 100, 152, 153, 159, 160):
        text = "".join(ALPHABET[(length * 7 + i * 13) % len(ALPHABET)] for i in range(length))
        single(text, senders[n % 4], centres[n % 2], when + datetime.timedelta(minutes=n))
        n += 1
    for text in ("5€ or [more]", "{x}~^|\\", "€" * 80, "a€" + "b" * 155, "\f page"):
        single(text, senders[n % 4], centres[n % 2], when + datetime.timedelta(days=n))
        n += 1
    long_text = "".join(ALPHABET[i % len(ALPHABET)] for i in range(400))
    multipart(long_text, "ConcatenatedTextLong", senders[0], centres[0], when)
    multipart(long_text[:200], "ConcatenatedTextLong16bit", senders[2], centres[1], when)
    return 0


if __name__ == "__main__":
    sys.exit(main())
