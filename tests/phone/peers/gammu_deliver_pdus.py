"""Encodes SMS PDUs with python-gammu, an encoder independent of ours, for the decoder
test. Prints one line per PDU, tab-separated:

    PDU  service centre  sender  time stamp  text

where the last four are what the decoder must give, taken from what the encoder was given;
the text is written as hexadecimal Windows-1252 bytes (it may hold CR, LF and tabs). Only
the 7-bit default alphabet gives a text: a DELIVER in UCS2 or 8-bit data comes with an
empty one, and an SMS-SUBMIT, which is no received message, with four empty fields."""

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


def message(kind, text, sender, smsc, when, coding="Default_No_Compression", klass=-1):
    sms = {"Number": sender, "SMSC": {"Number": smsc}, "Text": text, "DateTime": when,
           "Coding": coding, "Class": klass, "Folder": 1, "InboxFolder": 1,
           "Memory": "SM", "Location": 1, "State": "UnRead", "Type": kind}
    return gammu.EncodePDU(sms, kind)


def single(text, sender, smsc, when, klass=-1):
    pdu = message("Deliver", text, sender, smsc, when, klass=klass)
    emit(pdu, smsc, sender, when, text)


def not_text(sender, smsc, when):
    """DELIVERs in UCS2 and 8-bit data, with and without a message class: no text."""
    for klass in (-1, 0, 1, 2, 3):
        pdu = message("Deliver", "Grüße €", sender, smsc, when, "Unicode_No_Compression", klass)
        emit(pdu, smsc, sender, when, "")
        pdu = message("Deliver", b"\x00\x01binary\xff", sender, smsc, when, "8bit", klass)
        emit(pdu, smsc, sender, when, "")


def submits(sender, smsc, when):
    """SMS-SUBMITs, in the 7-bit alphabet and in UCS2: four empty fields."""
    for coding in ("Default_No_Compression", "Unicode_No_Compression"):
        for text in ("Hi", "hellohello, a longer submit"):
            print(message("Submit", text, sender, smsc, when, coding).hex().upper() + "\t" * 4)


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
    for klass in (0, 1, 2, 3):
        single("class %d" % klass, senders[n % 4], centres[n % 2], when, klass)
        n += 1
    not_text(senders[1], centres[0], when)
    submits(senders[0], centres[1], when)
    long_text = "".join(ALPHABET[i % len(ALPHABET)] for i in range(400))
    multipart(long_text, "ConcatenatedTextLong", senders[0], centres[0], when)
    multipart(long_text[:200], "ConcatenatedTextLong16bit", senders[2], centres[1], when)
    return 0


if __name__ == "__main__":
    sys.exit(main())
