"""The main job: show what one vesk agent does."""

import vesk

print(vesk.__doc__)
