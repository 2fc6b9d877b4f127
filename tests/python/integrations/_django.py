"""Django's settings for the integration tests: one configuration per process, whichever test
module imports Django first. An in-memory SQLite database; the auth apps because REST
framework's views need them."""
import pytest


def configure():
    """Configures Django once, or skips the calling test where Django is not installed."""
    django = pytest.importorskip("django", reason="Django is not installed")
    from django.conf import settings

    if not settings.configured:
        settings.configure(
            INSTALLED_APPS=["django.contrib.contenttypes", "django.contrib.auth"],
            DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": ":memory:"}},
            USE_TZ=True,
        )
        django.setup()
