"""Makes a bare `vantor.UUID` annotation work in pydantic 2 (and so in FastAPI).

pydantic asks a field's class for `__get_pydantic_core_schema__` and `__get_pydantic_json_schema__`.
The package puts both on `vantor.UUID` once, while `import vantor` runs, before any other thread
can see the package: the class's dict is never written again after that, so threads of a
free-threaded build only ever read it. What goes there is a small stand-in that imports
`vantor.pydantic` (and with it pydantic) the first time pydantic calls it, so that importing
vantor never imports pydantic. The schema is the one `vantor.pydantic.UUID` has: the bare class
and that type validate, dump and describe themselves alike.
"""
from __future__ import annotations

NAMES = ("__get_pydantic_core_schema__", "__get_pydantic_json_schema__")


class _Deferred:
    """One of the two methods, loaded from vantor.pydantic when pydantic first calls it.

    An instance, not a function, so that reading it from the class or an instance gives it as it
    is, with no binding. Its call takes exactly two parameters: pydantic passes the handler only
    to a callable whose signature has two."""

    __slots__ = ("_name",)

    def __init__(self, name: str) -> None:
        self._name = name

    def __call__(self, source: object, handler: object) -> object:
        from vantor.pydantic import _ANY_VERSION  # cached after the first call

        return getattr(_ANY_VERSION, self._name)(source, handler)

    def __repr__(self) -> str:
        return f"<vantor.pydantic hook {self._name}>"


def install(cls: type) -> None:
    for name in NAMES:
        setattr(cls, name, _Deferred(name))
