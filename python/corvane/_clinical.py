"""Clinical and outcome fields of a WFDB header (CTU-UHB layout).

CTU-UHB headers end with comment lines such as ``#pH           7.14`` or
``#Gest. weeks  41``: a field name (which may contain blanks) and one value.
``parse_clinical`` turns the known ones into a mapping keyed by the header's
own names. Measures (pH, BDecf, pCO2, BE) are floats, scores, counts, codes,
durations and sample positions are ints; ``NaN`` (the database's "not
measured") and any value that is not a number become ``None``. Fields the
header does not have are absent from the mapping. The neonatology block that
the database marks as not ready, and the database's internal id, are left out.
"""

from __future__ import annotations

import math
import os
import re
from typing import Dict, Iterable, Optional, TypedDict, Union, get_args

__all__ = ["CLINICAL_FIELDS", "ClinicalFields", "parse_clinical", "read_clinical"]

ClinicalValue = Optional[Union[int, float]]

# The fields by the header's own names, in the header's order, with their
# value types (the names are not identifiers, hence the functional form).
# Every key is optional: a header may lack any of them.
ClinicalFields = TypedDict(
    "ClinicalFields",
    {
        # outcome measures (umbilical artery blood, Apgar scores)
        "pH": Optional[float],
        "BDecf": Optional[float],
        "pCO2": Optional[float],
        "BE": Optional[float],
        "Apgar1": Optional[int],
        "Apgar5": Optional[int],
        # fetus / neonate
        "Gest. weeks": Optional[int],
        "Weight(g)": Optional[int],
        "Sex": Optional[int],
        # maternal (risk) factors
        "Age": Optional[int],
        "Gravidity": Optional[int],
        "Parity": Optional[int],
        "Diabetes": Optional[int],
        "Hypertension": Optional[int],
        "Preeclampsia": Optional[int],
        "Liq. praecox": Optional[int],
        "Pyrexia": Optional[int],
        "Meconium": Optional[int],
        # delivery
        "Presentation": Optional[int],
        "Induced": Optional[int],
        "I.stage": Optional[int],
        "NoProgress": Optional[int],
        "CK/KP": Optional[int],
        "II.stage": Optional[int],
        "Deliv. type": Optional[int],
        # signal
        "Rec. type": Optional[int],
        "Pos. II.st.": Optional[int],
        "Sig2Birth": Optional[int],
    },
    total=False,
)

# Header name -> value type (int or float), in the header's order.
CLINICAL_FIELDS: Dict[str, type] = {
    name: next(t for t in get_args(annotation) if t is not type(None))
    for name, annotation in ClinicalFields.__annotations__.items()
}

_FIELD_LINE = re.compile(r"^\s*(\S.*?)\s+(\S+)\s*$")


def _value(text: str, kind: type) -> ClinicalValue:
    try:
        number = float(text)
    except ValueError:
        return None
    if not math.isfinite(number):
        return None
    if kind is int and number.is_integer():
        return int(number)
    return number


def parse_clinical(comments: Iterable[str]) -> ClinicalFields:
    """The known clinical fields of a header's comment lines (with or without their ``#``)."""
    fields: Dict[str, ClinicalValue] = {}
    for comment in comments:
        match = _FIELD_LINE.match(comment.lstrip("#"))
        if match is None:
            continue
        name, text = match.groups()
        kind = CLINICAL_FIELDS.get(name)
        if kind is not None and name not in fields:
            fields[name] = _value(text, kind)
    return fields  # type: ignore[return-value]


def read_clinical(header: Union[str, "os.PathLike[str]"]) -> ClinicalFields:
    """The clinical fields of a WFDB header file (``.hea``; the extension may be left out).

    Reads the header text only: neither the wfdb package nor the samples are needed.
    """
    path = os.fspath(header)
    if not path.lower().endswith(".hea"):
        path += ".hea"
    with open(path, "r", encoding="utf-8", errors="replace") as handle:
        comments = [line for line in handle.read().splitlines() if line.lstrip().startswith("#")]
    return parse_clinical(comments)
