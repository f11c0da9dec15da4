"""Test-wide settings: property tests never fail on timing (the suite also
runs under the sanitizers, where every call is several times slower)."""

from hypothesis import HealthCheck, settings

settings.register_profile(
    "kivo", deadline=None, suppress_health_check=[HealthCheck.too_slow]
)
settings.load_profile("kivo")
