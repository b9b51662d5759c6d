"""The main job: show what one vesk agent does."""

import vesk

print(vesk.__doc__)

# An agent publishes a signed Manifest; anyone can check it.
agent = vesk.VeskAgent.generate()
manifest_json = agent.build_manifest(
    "demo agent", "https://agent.example/vesk/handshake/hello", ["read", "write"]
)
print("manifest:", manifest_json)
vesk.verify_manifest_json(manifest_json)
print("manifest verified for", agent.aid)
