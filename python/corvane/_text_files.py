"""Reading a recording file's bytes as text.

Monitor exports and analysis requests are UTF-8 text. Spreadsheet programs add
a byte-order mark to a "CSV UTF-8" export, and some save "Unicode text" as
UTF-16 with a byte-order mark: both are read as the text they hold (the mark
removed, line endings kept). A file that is not text at all, such as a
workbook saved in its own format, is refused with a message saying what it
looks like rather than with a decoder's complaint.

A *source* (:data:`Source`) is read as follows: a :class:`pathlib.Path` (any
``os.PathLike``) is a file to read; a ``str`` without a line break that names
an existing file is that file, and so is one that ends in .csv, .json or .hea
or holds a path separator (FileNotFoundError when there is no such file); any
other ``str`` is the recording's text itself; an object with a ``read()``
method is a file object whose content is read.
"""

from __future__ import annotations

import codecs
import os
from typing import IO, Optional, Union

__all__ = ["CSV_EXPORT", "JSON_REQUEST", "Source", "decode", "read_file", "read_source"]

Source = Union[str, "os.PathLike[str]", IO[str], IO[bytes]]

# What a file was expected to be, as the refusal names it.
CSV_EXPORT = "CSV export"
JSON_REQUEST = "JSON request"

_BOM = "\ufeff"
_UTF16_BOMS = (codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE)

# Leading bytes of the formats people take for a CSV export.
_ZIP = "a zip archive, such as an .xlsx workbook"
_SIGNATURES = (
    (b"PK\x03\x04", _ZIP),
    (b"PK\x05\x06", _ZIP),
    (b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1", "an Office compound file, such as an .xls workbook"),
    (b"%PDF", "a PDF document"),
    (b"\x1f\x8b", "a gzip archive"),
)
_BINARY = "binary data"
_UTF16_WITHOUT_BOM = "UTF-16 text without a byte-order mark"
# Control bytes that text files do not hold (white space and ESC aside).
_CONTROL_BYTES = frozenset(range(0x20)) - frozenset(b"\t\n\v\f\r\x1b")
# How much of the start of a file is looked at to tell what it is.
_SNIFF_BYTES = 4096


def _looks_like(data: bytes) -> Optional[str]:
    """What a file that is not text looks like, or None when it may be text."""
    for signature, description in _SIGNATURES:
        if data.startswith(signature):
            return description
    if b"\x00" in data:
        head = data[:_SNIFF_BYTES]
        # ASCII text in UTF-16 has a NUL as every other byte.
        if head[1::2].count(0) == len(head) // 2 or head[0::2].count(0) == (len(head) + 1) // 2:
            return _UTF16_WITHOUT_BOM
        return _BINARY
    return None


def _not_text(name: str, expected: str, looks: str) -> ValueError:
    return ValueError(f"{name} is not a text {expected} (looks like {looks})")


def decode(data: bytes, name: str, expected: str = CSV_EXPORT) -> str:
    """The text of a file's bytes: UTF-8, or UTF-16 with a byte-order mark; a
    leading byte-order mark is removed. `name` names the file in the
    ValueError raised for bytes that are not such text."""
    encoding = "utf-16" if data.startswith(_UTF16_BOMS) else "utf-8"
    if encoding == "utf-8":
        looks = _looks_like(data)
        if looks is not None:
            raise _not_text(name, expected, looks)
    try:
        text = data.decode(encoding)
    except UnicodeDecodeError as error:
        if _CONTROL_BYTES.intersection(data[:_SNIFF_BYTES]):
            raise _not_text(name, expected, _BINARY) from None
        line = data[: error.start].decode(encoding, "replace").count("\n") + 1
        label = "UTF-8" if encoding == "utf-8" else "UTF-16"
        raise ValueError(
            f"{name} is not {label} text (byte 0x{data[error.start]:02x} on line {line} cannot be read); save it as UTF-8"
        ) from None
    if "\x00" in text:
        raise _not_text(name, expected, _BINARY)
    return text[1:] if text.startswith(_BOM) else text


def read_file(path: Union[str, bytes, "os.PathLike[str]"], expected: str = CSV_EXPORT, name: Optional[str] = None) -> str:
    """A file's text, read by :func:`decode` (line endings kept as written)."""
    path = os.fsdecode(os.fspath(path))
    with open(path, "rb") as handle:
        data = handle.read()
    return decode(data, path if name is None else name, expected)


def read_source(source: Source, expected: str = CSV_EXPORT) -> str:
    """The text of a source: a path, a text, or a file object (see the module
    documentation for how a ``str`` is told apart). `expected` names what the
    source should hold in the error for a file that is not text."""
    if isinstance(source, os.PathLike):
        return read_file(source, expected)
    if isinstance(source, str):
        if source and "\n" not in source and "\r" not in source and (os.path.isfile(source) or _names_a_file(source)):
            return read_file(source, expected)
        return source
    read = getattr(source, "read", None)
    if callable(read):
        content = read()
        if isinstance(content, bytes):
            name = getattr(source, "name", None)
            return decode(content, name if isinstance(name, str) else "the file object", expected)
        if isinstance(content, str):
            return content[1:] if content.startswith(_BOM) else content
        raise TypeError(f"the file object's read() returned {type(content).__name__}, expected str or bytes")
    raise TypeError(f"source must be a path, a str or a file object, not {type(source).__name__}")


# A one-line str with one of these endings, or with a path separator, is a
# file name even when no such file exists (then FileNotFoundError), never text.
_FILE_SUFFIXES = (".csv", ".json", ".hea")


def _names_a_file(text: str) -> bool:
    separators = [sep for sep in (os.sep, os.altsep) if sep]
    return text.lower().endswith(_FILE_SUFFIXES) or any(sep in text for sep in separators)
