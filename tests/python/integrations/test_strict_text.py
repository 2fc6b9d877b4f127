"""Every integration module reads text as `vantor.UUID(text)` does, and nothing more.

The standard class reads far more: it drops braces, `urn:`, `uuid:` and every hyphen wherever
they are, and then takes whatever `int(text, 16)` takes (a sign, underscores, any Unicode
digit). A fallback to it would turn each malformed key below into some UUID, silently; each
module must refuse them all, and still take the four forms and the objects its library hands
over (tested with each module).
"""
import asyncio
import json
import uuid

import pytest

import vantor

from ._django import configure

HEX = "0123456789abcdef0123456789abcdef"
HYPHENATED = str(uuid.UUID(HEX))
VALUE = vantor.UUID(HEX)

MALFORMED = {
    "sign": "+" + "0" * 31,
    "underscore": "0_" + "0" * 30,
    "Arabic-Indic digits": "\u0660" * 32,
    "double braces": "{{" + HYPHENATED + "}}",
    "urn twice": "urn:uuid:urn:uuid:" + HYPHENATED,
    "leading hyphens": "----" + HEX,
    "hyphens elsewhere": "0123-4567" + HEX[8:],
    "braces around 32 digits": "{" + HEX + "}",
    "one brace": "{" + HYPHENATED,
    "urn of 32 digits": "urn:uuid:" + HEX,
    "uuid: alone": "uuid:" + HYPHENATED,
    "urn: alone": "urn:" + HYPHENATED,
}
ACCEPTED = [HEX, HYPHENATED, "{" + HYPHENATED + "}", "urn:uuid:" + HYPHENATED, HEX.upper()]


def msgspec_reader():
    msgspec = pytest.importorskip("msgspec", reason="msgspec is not installed")
    from vantor.msgspec import dec_hook

    class Holder(msgspec.Struct):
        id: vantor.UUID

    def read(text):
        document = json.dumps({"id": text}).encode()
        return msgspec.json.decode(document, type=Holder, dec_hook=dec_hook).id

    return read, msgspec.ValidationError


def pydantic_reader():
    pydantic = pytest.importorskip("pydantic", reason="pydantic is not installed")
    from vantor.pydantic import UUID

    return pydantic.TypeAdapter(UUID).validate_python, pydantic.ValidationError


def sqlalchemy_reader():
    sqlalchemy = pytest.importorskip("sqlalchemy", reason="SQLAlchemy is not installed")
    from vantor.sqlalchemy import UUID

    engine = sqlalchemy.create_engine("sqlite://")

    def read(text):
        # Bound as a parameter of the type, stored by SQLite and read back.
        with engine.connect() as conn:
            return conn.scalar(sqlalchemy.select(sqlalchemy.bindparam("id", text, type_=UUID)))

    return read, sqlalchemy.exc.StatementError


def sqlalchemy_attribute_reader():
    sqlalchemy = pytest.importorskip("sqlalchemy", reason="SQLAlchemy is not installed")
    from sqlalchemy.orm import DeclarativeBase, Mapped, mapped_column

    from vantor.sqlalchemy import UUID

    class Base(DeclarativeBase):
        pass

    class Row(Base):
        __tablename__ = "rows"
        id: Mapped[vantor.UUID] = mapped_column(UUID, primary_key=True)

    return (lambda text: Row(id=text).id), ValueError


def django_reader():
    pytest.importorskip("django", reason="Django is not installed")
    configure()
    from django.core.exceptions import ValidationError

    from vantor.django import UUIDField

    return UUIDField().to_python, ValidationError


def django_form_reader():
    pytest.importorskip("django", reason="Django is not installed")
    configure()
    from django.core.exceptions import ValidationError

    from vantor.django import UUIDField

    return UUIDField().formfield().clean, ValidationError


def rest_framework_reader():
    pytest.importorskip("rest_framework", reason="Django REST framework is not installed")
    configure()
    from rest_framework.exceptions import ValidationError

    from vantor.rest_framework import UUIDField

    return UUIDField().run_validation, ValidationError


READERS = {
    "msgspec": msgspec_reader,
    "pydantic": pydantic_reader,
    "sqlalchemy parameter": sqlalchemy_reader,
    "sqlalchemy attribute": sqlalchemy_attribute_reader,
    "django field": django_reader,
    "django form": django_form_reader,
    "rest_framework field": rest_framework_reader,
}


@pytest.fixture(scope="module", params=READERS)
def reader(request):
    return READERS[request.param]()


def test_the_standard_class_takes_every_malformed_text():
    # Why the table matters: each of these is a UUID to `uuid.UUID`, none is to vantor.
    for text in MALFORMED.values():
        uuid.UUID(text)
        with pytest.raises(ValueError, match="badly formed hexadecimal UUID string"):
            vantor.UUID(text)


@pytest.mark.parametrize("text", MALFORMED.values(), ids=MALFORMED.keys())
def test_malformed_text_is_refused(reader, text):
    read, error = reader
    with pytest.raises(error):
        read(text)


def test_the_four_forms_are_read(reader):
    read, _ = reader
    for text in ACCEPTED:
        value = read(text)
        assert type(value) is vantor.UUID and value == VALUE, text


@pytest.fixture(scope="module")
def asyncpg_connection_run(postgres_dsn):
    asyncpg = pytest.importorskip("asyncpg", reason="asyncpg is not installed")
    import vantor.asyncpg

    def run(text):
        async def main():
            conn = await asyncpg.connect(postgres_dsn)
            try:
                await vantor.asyncpg.register(conn)
                return await conn.fetchval("SELECT $1::uuid", text)
            finally:
                await conn.close()

        return asyncio.run(main())

    return run, asyncpg.DataError


def test_asyncpg_refuses_malformed_text(asyncpg_connection_run):
    run, error = asyncpg_connection_run
    for name, text in MALFORMED.items():
        with pytest.raises(error, match="badly formed hexadecimal UUID string"):
            run(text)
    for text in ACCEPTED:
        assert run(text) == VALUE
