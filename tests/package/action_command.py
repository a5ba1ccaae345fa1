"""Reads one file-manager action file the way its file manager does and
prints, as a JSON list, the command line it runs for the selected paths
given after the file. Exits with 1 and a reason when the file manager would
not offer the action for files and folders alike.

    action_command.py FORMAT FILE PATH...

FORMAT is kio (Dolphin service menu), file-manager (Caja, PCManFM-Qt),
nemo, desktop (Thunar's Send To entry), thunar-uca or nautilus."""
import configparser
import importlib.util
import json
import shlex
import sys
import xml.etree.ElementTree as ElementTree


class Invalid(Exception):
    pass


def key_file(path):
    parser = configparser.ConfigParser(interpolation=None, strict=True,
                                       delimiters=("=",), comment_prefixes=("#",))
    parser.optionxform = str  # keys are case-sensitive
    with open(path, encoding="utf-8") as stream:
        parser.read_file(stream)
    return parser


def expect(condition, reason):
    if not condition:
        raise Invalid(reason)


def expand_field_codes(exec_line, paths):
    """Desktop entry Exec: %F stands alone and becomes one argument per
    path; %f, %u and %U would hand over only one item or URIs."""
    words = shlex.split(exec_line)
    expect("%F" in words, f'Exec "{exec_line}" does not take the selected paths as %F')
    return [argument for word in words for argument in (paths if word == "%F" else [word])]


def kio(path, paths):
    parser = key_file(path)
    entry = parser["Desktop Entry"]
    expect("all/all" in entry["MimeType"].split(";"), "not offered for files and folders alike (all/all)")
    return expand_field_codes(parser[f"Desktop Action {entry['Actions'].split(';')[0]}"]["Exec"], paths)


def file_manager(path, paths):
    parser = key_file(path)
    profile = parser[f"X-Action-Profile {parser['Desktop Entry']['Profiles'].split(';')[0]}"]
    expect("all/all" in profile["MimeTypes"].split(";"), "not offered for files and folders alike (all/all)")
    expect(profile["SelectionCount"] == ">0", "not offered for any number of selected items")
    return expand_field_codes(profile["Exec"], paths)


def nemo(path, paths):
    action = key_file(path)["Nemo Action"]
    expect(action["Selection"].lower() == "notnone", "not offered for any number of selected items")
    expect(action["Extensions"].split(";")[0] == "any", "not offered for files and folders alike")
    # Nemo wraps each path in the quote it is told (escaping that quote),
    # joins the paths with spaces and parses the result as a shell command
    # line: without a quote a space in a name splits it.
    quote = '"' if action.get("Quote") == "double" else ""
    quoted = " ".join(quote + p.replace('"', '\\"') + quote for p in paths)
    return shlex.split(action["Exec"].replace("%F", quoted))


def desktop(path, paths):
    entry = key_file(path)["Desktop Entry"]
    # Thunar offers an entry with a MimeType for those types only.
    expect("MimeType" not in entry, "not offered for files and folders alike")
    return expand_field_codes(entry["Exec"], paths)


def thunar_uca(path, paths):
    action = ElementTree.parse(path).getroot().find("action")
    expect(action.findtext("patterns").strip() == "*", "not offered for every name")
    for kind in ("directories", "audio-files", "image-files", "other-files", "text-files", "video-files"):
        expect(action.find(kind) is not None, f"not offered for <{kind}/>")
    # Thunar quotes each path for the shell and parses the command line.
    quoted = " ".join(shlex.quote(p) for p in paths)
    return shlex.split(action.findtext("command").replace("%F", quoted))


def nautilus(path, paths):
    import nautilus_standin
    nautilus_standin.install()
    from gi.repository import Gio, GLib, Nautilus

    spawned = []

    def record_spawn(argv, *args, **kwargs):
        expect(kwargs.get("flags", 0) & GLib.SpawnFlags.SEARCH_PATH, "the program is not looked up in PATH")
        spawned.append(list(argv))

    GLib.spawn_async = record_spawn
    found = importlib.util.spec_from_file_location("quillmere_extension", path)
    extension = importlib.util.module_from_spec(found)
    found.loader.exec_module(extension)
    provider = next(value for value in vars(extension).values()
                    if isinstance(value, type) and issubclass(value, Nautilus.MenuProvider))()
    remote = [Nautilus.FileInfo(Gio.File.new_for_uri("sftp://host.invalid/file"))]
    expect(not provider.get_file_items(remote), "offered for items without a local path")
    for item in provider.get_file_items([Nautilus.FileInfo(Gio.File.new_for_path(p)) for p in paths]):
        item.emit("activate")
    expect(len(spawned) == 1, "activating the menu must start one program")
    return spawned[0]


FORMATS = {"kio": kio, "file-manager": file_manager, "nemo": nemo, "desktop": desktop,
           "thunar-uca": thunar_uca, "nautilus": nautilus}


def main():
    form, path, paths = sys.argv[1], sys.argv[2], sys.argv[3:]
    try:
        argv = FORMATS[form](path, paths)
    except (Invalid, KeyError, configparser.Error, ElementTree.ParseError) as error:
        print(f"{path}: {error}", file=sys.stderr)
        return 1
    json.dump(argv, sys.stdout, ensure_ascii=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
