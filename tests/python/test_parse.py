"""Reading UUIDs from text: the four accepted layouts and nothing else."""
import uuid

import pytest
from hypothesis import assume, given
from hypothesis import strategies as st

from conftest import notes_of, processing_note, raises_exactly, uuid_ints
from vantor import UUID

BAD = "badly formed hexadecimal UUID string"

SAMPLE_INT = 0xC232AB00941411ECB3C89F6BDECED846
SIMPLE = "c232ab00941411ecb3c89f6bdeced846"
HYPHENATED = "c232ab00-9414-11ec-b3c8-9f6bdeced846"
BRACED = "{" + HYPHENATED + "}"
URN = "urn:uuid:" + HYPHENATED

# The three ways text reaches the parser.
PARSERS = [
    pytest.param(lambda s: UUID(s), id="positional"),
    pytest.param(lambda s: UUID(hex=s), id="keyword"),
    pytest.param(UUID.from_hex, id="from_hex"),
]


def layouts(value):
    hyphenated = str(uuid.UUID(int=value))
    return {
        "simple": hyphenated.replace("-", ""),
        "hyphenated": hyphenated,
        "braced": "{" + hyphenated + "}",
        "urn": "urn:uuid:" + hyphenated,
    }


@st.composite
def mixed_case_layouts(draw):
    value = draw(uuid_ints)
    text = draw(st.sampled_from(sorted(layouts(value).items())))[1]
    prefix = "urn:uuid:" if text.startswith("urn:uuid:") else ""
    body = text[len(prefix) :]
    flips = draw(st.lists(st.booleans(), min_size=len(body), max_size=len(body)))
    body = "".join(c.upper() if f else c for c, f in zip(body, flips))
    return value, prefix + body


@pytest.mark.parametrize("parse", PARSERS)
@pytest.mark.parametrize(
    "text",
    [
        SIMPLE,
        SIMPLE.upper(),
        HYPHENATED,
        HYPHENATED.upper(),
        BRACED,
        BRACED.upper(),
        URN,
        "urn:uuid:" + HYPHENATED.upper(),
        "C232ab00-9414-11Ec-b3C8-9f6BdEcEd846",
    ],
)
def test_accepted_layouts(parse, text):
    u = parse(text)
    assert type(u) is UUID
    assert u.int == SAMPLE_INT


@given(mixed_case_layouts())
def test_every_layout_in_any_case_reads_back(case):
    value, text = case
    assert UUID(text).int == value
    assert UUID.from_hex(text).int == value
    assert uuid.UUID(text).int == value


@given(uuid_ints)
def test_reads_every_text_the_standard_library_writes(value):
    std = uuid.UUID(int=value)
    for text in (str(std), std.hex, std.urn, str(std).upper(), std.hex.upper()):
        assert UUID(text).int == value, text


REJECTED = [
    # lengths around the accepted ones
    "",
    SIMPLE[:-1],
    SIMPLE + "0",
    HYPHENATED[:-1],
    HYPHENATED + "0",
    BRACED[:-1],
    BRACED + "}",
    URN[:-1],
    URN + "0",
    # whitespace is never stripped
    " " + SIMPLE,
    SIMPLE + " ",
    SIMPLE + "\n",
    "\t" + HYPHENATED,
    HYPHENATED[:8] + " " + HYPHENATED[9:],
    " " + SIMPLE[1:],
    # prefixes other than a lowercase "urn:uuid:"
    "URN:UUID:" + HYPHENATED,
    "urn:UUID:" + HYPHENATED,
    "Urn:uuid:" + HYPHENATED,
    "uuid:" + HYPHENATED,
    "urn:" + HYPHENATED,
    "urn:uuid " + HYPHENATED,
    "urn-uuid:" + HYPHENATED,
    "0x" + SIMPLE[2:],
    "0x" + SIMPLE,
    # braces only around the hyphenated layout, and only as a matching pair
    "{" + SIMPLE + "}",
    "{" + URN + "}",
    "urn:uuid:" + BRACED,
    "{" + HYPHENATED + ")",
    "(" + HYPHENATED + ")",
    "[" + HYPHENATED + "]",
    "}" + HYPHENATED + "{",
    "{{" + HYPHENATED[1:-1] + "}}",
    "{" + HYPHENATED + " ",
    "0" + HYPHENATED + "}",
    # the URN prefix goes with the hyphenated layout only
    "urn:uuid:" + SIMPLE,
    # hyphens exactly at 8, 13, 18 and 23
    HYPHENATED[:7] + "-" + HYPHENATED[7] + HYPHENATED[9:],
    HYPHENATED[:13] + HYPHENATED[14] + "-" + HYPHENATED[15:],
    HYPHENATED.replace("-", "0"),
    "-" * 36,
    "-" * 32,
    SIMPLE[:8] + "-" + SIMPLE[9:],
    "-" + SIMPLE[1:],
    SIMPLE[:8] + "-" + SIMPLE[8:12] + "-" + SIMPLE[12:16] + "-" + SIMPLE[16:20] + SIMPLE[20:],
    HYPHENATED[:23] + SIMPLE[20:] + "-",
    # characters that number parsers tolerate but a UUID must not contain
    "g" + SIMPLE[1:],
    SIMPLE[:-1] + "G",
    SIMPLE[:-1] + "x",
    "+" + SIMPLE[1:],
    SIMPLE[:4] + "_" + SIMPLE[5:],
    HYPHENATED[:9] + "+" + HYPHENATED[10:],
    HYPHENATED[:8] + "_" + HYPHENATED[9:],
    # non-ASCII, including digits that Unicode-aware number parsing would accept
    "\uff10" * 32,
    "\u0660" * 32,
    "\u00e9" * 32,
    SIMPLE[:-2] + "\u00e9",
    SIMPLE[:-1] + "\u00e9",
    SIMPLE[:-1] + "\uff41",
    HYPHENATED[:8] + "\u2010" + HYPHENATED[9:],
    HYPHENATED[:-1] + "\uff16",
    "urn:uuid:" + HYPHENATED[:-1] + "\u00e9",
    # embedded NUL must not end the text early
    SIMPLE[:-1] + "\x00",
    SIMPLE + "\x00",
    HYPHENATED + "\x00",
    "\x00" + SIMPLE,
]


@pytest.mark.parametrize("parse", PARSERS)
@pytest.mark.parametrize("text", REJECTED)
def test_rejected_text(parse, text):
    # A malformed text is a failure of building the value, not of converting the argument: no note.
    with raises_exactly(ValueError, BAD):
        parse(text)


@given(
    uuid_ints,
    st.lists(st.integers(min_value=0, max_value=32), min_size=1, max_size=6),
    st.booleans(),
)
def test_hyphens_placed_elsewhere_are_rejected(value, positions, braced):
    # The standard library drops hyphens and braces wherever they are; we only take the
    # canonical layouts.
    simple = uuid.UUID(int=value).hex
    text = simple
    for p in sorted(positions, reverse=True):
        text = text[:p] + "-" + text[p:]
    if braced:
        text = "{" + text + "}"
    assume(text not in layouts(value).values())
    assert uuid.UUID(text).int == value
    with pytest.raises(ValueError, match=BAD):
        UUID(text)


@pytest.mark.parametrize("parse", PARSERS)
@pytest.mark.parametrize(
    "text",
    [
        "\ud800" * 32,
        SIMPLE[:-1] + "\udfff",
        HYPHENATED[:-1] + "\udc80",
        "urn:uuid:" + HYPHENATED[:-1] + "\ud800",
        "\ud800",
    ],
)
def test_lone_surrogates_fail_while_converting_the_argument(parse, text):
    with pytest.raises(UnicodeEncodeError) as excinfo:
        parse(text)
    assert notes_of(excinfo) == processing_note("hex")
