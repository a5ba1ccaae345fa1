"""Reads one file-manager action file the way its file manager does and
prints, as JSON, its label, its icon and the command line it runs for the
selected paths given after the file. Exits with 1 and a reason when the
file is not valid for its format.

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


def require(group, key):
    if key not in group or not group[key].strip():
        raise Invalid(f'[{group.name}] lacks "{key}"')
    return group[key]


def string_list(value):
    return [item for item in value.split(";") if item]


def expand_field_codes(exec_line, paths):
    """Desktop entry Exec: %F stands alone and becomes one argument per
    path; %f, %u and %U would hand over only one item or URIs."""
    words = shlex.split(exec_line)
    if "%F" not in words:
        raise Invalid(f'Exec "{exec_line}" does not take the selected paths as %F')
    result = []
    for word in words:
        result.extend(paths if word == "%F" else [word])
    return result


def kio(path, paths):
    parser = key_file(path)
    entry = parser["Desktop Entry"]
    if require(entry, "Type") != "Service":
        raise Invalid("a service menu has Type=Service")
    if "all/all" not in string_list(require(entry, "MimeType")):
        raise Invalid("the menu must be offered for files and folders alike (all/all)")
    actions = string_list(require(entry, "Actions"))
    if len(actions) != 1:
        raise Invalid("one action expected")
    action = parser[f"Desktop Action {actions[0]}"]
    return require(action, "Name"), require(action, "Icon"), expand_field_codes(require(action, "Exec"), paths)


def file_manager(path, paths):
    parser = key_file(path)
    entry = parser["Desktop Entry"]
    if require(entry, "Type") != "Action":
        raise Invalid("a file-manager action has Type=Action")
    profiles = string_list(require(entry, "Profiles"))
    if len(profiles) != 1:
        raise Invalid("one profile expected")
    profile = parser[f"X-Action-Profile {profiles[0]}"]
    if "all/all" not in string_list(require(profile, "MimeTypes")):
        raise Invalid("the action must be offered for files and folders alike (all/all)")
    if require(profile, "SelectionCount") != ">0":
        raise Invalid("the action must be offered for any number of selected items")
    return require(entry, "Name"), require(entry, "Icon"), expand_field_codes(require(profile, "Exec"), paths)


def nemo(path, paths):
    action = key_file(path)["Nemo Action"]
    if require(action, "Selection").lower() != "notnone":
        raise Invalid("the action must be offered for any number of selected items")
    if string_list(require(action, "Extensions")) != ["any"]:
        raise Invalid("the action must be offered for files and folders alike (Extensions=any)")
    if action.get("Quote") != "double":
        raise Invalid("paths must be quoted, or a space in a name splits it")
    # Nemo escapes double quotes in each path, wraps it in the quote, joins
    # the paths with spaces and parses the result as a shell command line.
    quoted = " ".join('"' + p.replace('"', '\\"') + '"' for p in paths)
    command = require(action, "Exec")
    if "%F" not in command:
        raise Invalid("Exec does not take the selected paths as %F")
    return require(action, "Name"), require(action, "Icon-Name"), shlex.split(command.replace("%F", quoted))


def desktop(path, paths):
    entry = key_file(path)["Desktop Entry"]
    if require(entry, "Type") != "Application":
        raise Invalid("a Send To entry has Type=Application")
    if "MimeType" in entry:
        raise Invalid("without MimeType Thunar offers the entry for files and folders alike")
    return require(entry, "Name"), require(entry, "Icon"), expand_field_codes(require(entry, "Exec"), paths)


def thunar_uca(path, paths):
    root = ElementTree.parse(path).getroot()
    if root.tag != "actions":
        raise Invalid("the document's root is <actions>")
    actions = root.findall("action")
    if len(actions) != 1:
        raise Invalid("one <action> expected")
    action = actions[0]

    def text(tag):
        element = action.find(tag)
        if element is None or not (element.text or "").strip():
            raise Invalid(f"<action> lacks <{tag}>")
        return element.text.strip()

    if text("patterns") != "*":
        raise Invalid("the action must be offered for every name (<patterns>*</patterns>)")
    for kind in ("directories", "audio-files", "image-files", "other-files", "text-files", "video-files"):
        if action.find(kind) is None:
            raise Invalid(f"the action must be offered for <{kind}/>")
    # Thunar quotes each path for the shell and parses the command line.
    command = text("command")
    if "%F" not in command:
        raise Invalid("<command> does not take the selected paths as %F")
    quoted = " ".join(shlex.quote(p) for p in paths)
    return text("name"), text("icon"), shlex.split(command.replace("%F", quoted))


def nautilus(path, paths):
    import nautilus_standin
    nautilus_standin.install()
    from gi.repository import Gio, GLib, Nautilus

    spawned = []

    def record_spawn(argv, *args, **kwargs):
        if not kwargs.get("flags", 0) & GLib.SpawnFlags.SEARCH_PATH:
            raise Invalid("the extension must look the program up in PATH")
        spawned.append(list(argv))
        return (True, 0, None, None, None)

    GLib.spawn_async = record_spawn
    found = importlib.util.spec_from_file_location("quillmere_extension", path)
    extension = importlib.util.module_from_spec(found)
    found.loader.exec_module(extension)
    providers = [value for value in vars(extension).values()
                 if isinstance(value, type) and issubclass(value, Nautilus.MenuProvider)]
    if len(providers) != 1:
        raise Invalid("one menu provider expected")
    files = [Nautilus.FileInfo(Gio.File.new_for_path(p)) for p in paths]
    items = providers[0]().get_file_items(files)
    if len(items) != 1:
        raise Invalid("one menu item expected for a local selection")
    remote = [Nautilus.FileInfo(Gio.File.new_for_uri("sftp://host.invalid/file"))]
    if providers[0]().get_file_items(remote):
        raise Invalid("no menu item expected for items without a local path")
    items[0].activate()
    if len(spawned) != 1:
        raise Invalid("activating the item must start one program")
    return items[0].label, items[0].icon, spawned[0]


FORMATS = {"kio": kio, "file-manager": file_manager, "nemo": nemo, "desktop": desktop,
           "thunar-uca": thunar_uca, "nautilus": nautilus}


def main():
    form, path, paths = sys.argv[1], sys.argv[2], sys.argv[3:]
    try:
        label, icon, argv = FORMATS[form](path, paths)
    except (Invalid, KeyError, configparser.Error, ElementTree.ParseError) as error:
        print(f"{path}: {error}", file=sys.stderr)
        return 1
    json.dump({"label": label, "icon": icon, "argv": argv}, sys.stdout, ensure_ascii=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
