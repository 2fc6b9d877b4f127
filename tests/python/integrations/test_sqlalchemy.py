"""vantor.sqlalchemy.UUID on SQLite and on PostgreSQL through psycopg and asyncpg."""
import asyncio
import uuid
from pathlib import Path

import pytest

sqlalchemy = pytest.importorskip("sqlalchemy", minversion="2", reason="SQLAlchemy 2 is not installed")

from sqlalchemy import bindparam, select, text  # noqa: E402
from sqlalchemy.orm import DeclarativeBase, Mapped, Session, mapped_column  # noqa: E402

import vantor  # noqa: E402
from vantor.sqlalchemy import UUID  # noqa: E402


class Base(DeclarativeBase):
    pass


class Item(Base):
    __tablename__ = "vantor_items"
    id: Mapped[vantor.UUID] = mapped_column(UUID, primary_key=True, default=vantor.uuid7)
    ref: Mapped[vantor.UUID | None] = mapped_column(UUID)


REF = vantor.uuid4()
# Each way a caller may name a UUID when binding: both classes and text.
AS = {"vantor": lambda v: v, "std": lambda v: uuid.UUID(str(v)), "text": str}


def exercise(session):
    """The same checks on any engine; returns the stored item's primary key."""
    item = Item(ref=REF)
    session.add(item)
    session.flush()
    assert type(item.id) is vantor.UUID and item.id.version == 7
    for name, convert in AS.items():
        # The identity map: selecting the row just flushed gives back the very same object.
        found = session.scalars(select(Item).where(Item.id == convert(item.id))).one()
        assert found is item, name
        assert session.scalars(select(Item.ref).where(Item.ref == convert(REF))).one() == REF
        assert session.get(Item, convert(item.id)) is item, name
    for name, convert in AS.items():
        # A key given as either class or as text: one object per row all the same.
        key = vantor.uuid4()
        other = Item(id=convert(key), ref=convert(REF))
        assert type(other.id) is type(other.ref) is vantor.UUID, name
        session.add(other)
        session.flush()
        assert session.scalars(select(Item).where(Item.id == convert(key))).one() is other, name
        assert session.get(Item, convert(key)) is other, name
        other.ref = convert(key)
        assert type(other.ref) is vantor.UUID and other.ref == key, name
        other.ref = REF
    session.flush()
    session.expire_all()
    rows = session.execute(select(Item.id, Item.ref).order_by(Item.id)).all()
    assert {type(v) for row in rows for v in row} == {vantor.UUID}
    assert sorted(rows) == rows and {row.ref for row in rows} == {REF}
    # A typed parameter in a textual query binds through the same type.
    query = text("SELECT count(*) FROM vantor_items WHERE id = :id").bindparams(
        bindparam("id", type_=UUID)
    )
    assert session.scalar(query, {"id": item.id}) == 1
    return item.id


@pytest.fixture
def sqlite_engine():
    engine = sqlalchemy.create_engine("sqlite://")
    Base.metadata.create_all(engine)
    yield engine
    engine.dispose()


def test_sqlite(sqlite_engine):
    with Session(sqlite_engine) as session:
        key = exercise(session)
        session.commit()
    with sqlite_engine.connect() as conn:
        stored = conn.exec_driver_sql("SELECT id FROM vantor_items WHERE ref = ?", (REF.bytes,))
        # Sixteen bytes in big-endian order: byte order is UUID order.
        assert key.bytes in [row[0] for row in stored]


def test_postgresql_psycopg(postgres_dsn):
    pytest.importorskip("psycopg", reason="psycopg is not installed")
    engine = sqlalchemy.create_engine(postgres_dsn.replace("postgresql://", "postgresql+psycopg://"))
    Base.metadata.create_all(engine)
    try:
        with Session(engine) as session:
            key = exercise(session)
            session.commit()
        with engine.connect() as conn:
            column_type = conn.exec_driver_sql(
                "SELECT data_type FROM information_schema.columns"
                " WHERE table_name = 'vantor_items' AND column_name = 'id'"
            ).scalar()
            stored = conn.exec_driver_sql("SELECT id::text FROM vantor_items").scalars().all()
        assert column_type == "uuid" and str(key) in stored
    finally:
        Base.metadata.drop_all(engine)
        engine.dispose()


def test_postgresql_asyncpg(postgres_dsn):
    pytest.importorskip("asyncpg", reason="asyncpg is not installed")
    pytest.importorskip("greenlet", reason="greenlet (SQLAlchemy's asyncio extra) is not installed")
    from sqlalchemy.ext.asyncio import AsyncSession, create_async_engine

    async def main():
        engine = create_async_engine(postgres_dsn.replace("postgresql://", "postgresql+asyncpg://"))
        async with engine.begin() as conn:
            await conn.run_sync(Base.metadata.create_all)
        try:
            async with AsyncSession(engine) as session:
                await session.run_sync(exercise)
        finally:
            async with engine.begin() as conn:
                await conn.run_sync(Base.metadata.drop_all)
            await engine.dispose()

    asyncio.run(main())


ALEMBIC_ENV = """
import sqlalchemy as sa
from alembic import context
import vantor.sqlalchemy

metadata = sa.MetaData()
sa.Table("orders", metadata, sa.Column("id", vantor.sqlalchemy.UUID(), primary_key=True))
options = {"render_item": vantor.sqlalchemy.render_item} if %r else {}
with sa.create_engine(context.config.get_main_option("sqlalchemy.url")).connect() as connection:
    context.configure(connection=connection, target_metadata=metadata, **options)
    with context.begin_transaction():
        context.run_migrations()
"""


@pytest.mark.parametrize("hooked", [False, True], ids=["plain", "render_item"])
def test_alembic_autogenerated_migration_runs(tmp_path, hooked):
    pytest.importorskip("alembic", reason="Alembic is not installed")
    import shutil

    import alembic
    from alembic import command
    from alembic.config import Config

    (tmp_path / "versions").mkdir()
    (tmp_path / "env.py").write_text(ALEMBIC_ENV % hooked)
    template = Path(alembic.__file__).parent / "templates" / "generic" / "script.py.mako"
    shutil.copy(template, tmp_path)
    config = Config()
    config.set_main_option("script_location", str(tmp_path))
    config.set_main_option("sqlalchemy.url", f"sqlite:///{tmp_path / 'db.sqlite'}")
    command.revision(config, message="orders", autogenerate=True)
    (migration,) = (tmp_path / "versions").glob("*.py")
    assert "vantor.sqlalchemy.UUID()" in migration.read_text()
    if not hooked:
        # The wall: the migration names the type without importing it.
        with pytest.raises(NameError, match="vantor"):
            command.upgrade(config, "head")
        return
    command.upgrade(config, "head")
    engine = sqlalchemy.create_engine(f"sqlite:///{tmp_path / 'db.sqlite'}")
    orders = sqlalchemy.Table("orders", sqlalchemy.MetaData(), sqlalchemy.Column("id", UUID))
    with engine.begin() as conn:
        declared = conn.exec_driver_sql("SELECT sql FROM sqlite_master WHERE name = 'orders'").scalar()
        conn.execute(orders.insert(), {"id": REF})
        assert conn.scalar(select(orders.c.id)) == REF
    engine.dispose()
    assert "BINARY(16)" in declared


def test_mapped_annotation_through_type_annotation_map(sqlite_engine):
    # SQLAlchemy maps no column type to `vantor.UUID` by itself; the declarative base names it.
    class AnnotatedBase(DeclarativeBase):
        type_annotation_map = {vantor.UUID: UUID}

    class Order(AnnotatedBase):
        __tablename__ = "vantor_annotated"
        id: Mapped[vantor.UUID] = mapped_column(primary_key=True, default=vantor.uuid7)
        ref: Mapped[vantor.UUID | None]

    assert isinstance(Order.__table__.c.id.type, UUID) and Order.__table__.c.ref.nullable
    AnnotatedBase.metadata.create_all(sqlite_engine)
    with Session(sqlite_engine) as session:
        order = Order(ref=str(REF))
        assert type(order.ref) is vantor.UUID
        session.add(order)
        session.flush()
        assert session.get(Order, uuid.UUID(str(order.id))) is order
        session.expire_all()
        assert session.scalars(select(Order.ref)).one() == REF
