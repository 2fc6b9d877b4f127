"""The standard library's name-based generators as 3.12 and later define them, on every version.

Since 3.12, uuid.uuid3 and uuid.uuid5 take a bytes-like name and hash it as given; 3.11's take a
str only. There, a bytes-like name is hashed the way 3.12's uuid module does it (the namespace's
16 bytes, then the name's); a str still goes to the standard function itself."""
import hashlib
import sys
import uuid

if sys.version_info >= (3, 12):
    uuid3 = uuid.uuid3
    uuid5 = uuid.uuid5
else:

    def uuid3(namespace, name):
        if isinstance(name, str):
            return uuid.uuid3(namespace, name)
        digest = hashlib.md5(namespace.bytes + bytes(name), usedforsecurity=False).digest()
        return uuid.UUID(bytes=digest[:16], version=3)

    def uuid5(namespace, name):
        if isinstance(name, str):
            return uuid.uuid5(namespace, name)
        digest = hashlib.sha1(namespace.bytes + bytes(name)).digest()
        return uuid.UUID(bytes=digest[:16], version=5)
