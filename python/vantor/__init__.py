"""vantor: fast, exact RFC 4122 / RFC 9562 UUIDs with a C++ core.

Every public name of the extension module `_vantor` is offered here; `vantor.UUID` is the class,
which names this package as its module so that pickles refer to `vantor.UUID`.

    import vantor
    vantor.uuid7()                                  # UUID('01938a4b-7c5e-7f3a-...')
    vantor.uuid5(vantor.NAMESPACE_DNS, "example.org")

`vantor.UUID` hashes like the standard `uuid.UUID` of the same value but never equals it. Where
other code wants the standard class, `vantor.std` has the same generators returning it; the
integration modules `vantor.pydantic`, `vantor.psycopg`, `vantor.asyncpg`, `vantor.sqlalchemy`,
`vantor.django` and `vantor.msgspec` let those libraries take `vantor.UUID` as it is.
"""
from _vantor import *  # noqa: F401,F403
from _vantor import __all__, __version__  # noqa: F401
