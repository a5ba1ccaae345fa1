"""A stand-in for the file manager's extension interface (gi.repository
.Nautilus), just large enough to load an extension, ask it for its menu
items on a selection and activate them: the real one lives inside the
running file manager."""
import sys
import types

import gi
from gi.repository import GObject


class MenuProvider:
    pass


class MenuItem(GObject.GObject):
    __gsignals__ = {"activate": (GObject.SignalFlags.RUN_FIRST, None, ())}

    def __init__(self, **properties):
        super().__init__()


class FileInfo:
    """What the extension may ask of a selected item."""

    def __init__(self, location):
        self._location = location

    def get_location(self):
        return self._location


def install():
    module = types.ModuleType("gi.repository.Nautilus")
    module.MenuProvider = MenuProvider
    module.MenuItem = MenuItem
    module.FileInfo = FileInfo
    sys.modules["gi.repository.Nautilus"] = module
    gi.repository.Nautilus = module

    real_require_version = gi.require_version
    gi.require_version = lambda namespace, version: namespace == "Nautilus" or real_require_version(namespace, version)
