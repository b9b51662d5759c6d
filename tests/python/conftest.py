import os

from hypothesis import HealthCheck, settings

# Property tests stay quick in `make test`; HYPOTHESIS_PROFILE=deep searches much longer.
settings.register_profile("fast", max_examples=60, deadline=None, database=None,
                          suppress_health_check=[HealthCheck.too_slow])
settings.register_profile("deep", max_examples=3000, deadline=None,
                          suppress_health_check=[HealthCheck.too_slow])
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "fast"))
