# Adds "Windows 用 ZIP に圧縮" to the file manager's context menu for any
# selection of local files and folders. The selected paths go to the
# installed quillmere, which hands them to its running window (or becomes
# it), so the archive is made as if the items had been dropped there.
import gi

try:
    gi.require_version("Nautilus", "4.0")
except ValueError:
    gi.require_version("Nautilus", "3.0")

from gi.repository import GLib, GObject, Nautilus

LABEL = "Windows 用 ZIP に圧縮"
TIP = "日本語版 Windows で文字化けしない ZIP アーカイブを作成します"
PROGRAM = "quillmere"


def local_paths(files):
    """The selection's paths, or None when one item has no local path
    (trash, network locations): quillmere archives local items only."""
    paths = []
    for item in files:
        location = item.get_location()
        path = location.get_path() if location is not None else None
        if path is None:
            return None
        paths.append(path)
    return paths


class QuillmereZipMenu(GObject.GObject, Nautilus.MenuProvider):
    # Version 3 of the extension interface passes the window first,
    # version 4 only the files: the files are always the last argument.
    def get_file_items(self, *arguments):
        paths = local_paths(arguments[-1])
        if not paths:
            return []
        item = Nautilus.MenuItem(name="QuillmereZipMenu::archive",
                                 label=LABEL, tip=TIP, icon=PROGRAM)
        item.connect("activate", self.archive, paths)
        return [item]

    def get_background_items(self, *arguments):
        return []

    def archive(self, _item, paths):
        # GLib reaps the child itself, so no zombie stays behind in the
        # file manager; quillmere's own failures go to its standard output.
        GLib.spawn_async([PROGRAM, *paths], flags=GLib.SpawnFlags.SEARCH_PATH)
