"""The module libraries as CMakeLists.txt declares them, against the sources.

Every folder of src/ (but common/, the shared header-only types) is one
library declared with korvex_module(NAME USES ...). The graph must have no
cycle, and a module's files may include only their own headers, common/ and
the headers of the modules it lists in USES. The module table of
docs/architecture.md names every module once, with the same USES.
"""
import pathlib
import re
import sys
import unittest

ROOT = pathlib.Path(sys.argv.pop(1) if len(sys.argv) > 1 else ".").resolve()
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/', re.M)


def declared_modules():
    text = (ROOT / "CMakeLists.txt").read_text()
    modules = {}
    for call in re.finditer(r"^korvex_module\(([^)]*)\)", text, re.M):
        words = call.group(1).split()
        name, uses, section = words[0], [], None
        for word in words[1:]:
            if word in ("USES", "LIBS"):
                section = word
            elif section == "USES":
                uses.append(word)
        modules[name] = uses
    return modules


def documented_modules():
    """{module: uses} from the rows "| `name` | holds | uses |" of the table."""
    text = (ROOT / "docs" / "architecture.md").read_text()
    rows = {}
    for row in re.finditer(r"^\| `([a-z_]+)` \|[^|]*\|([^|]*)\|$", text, re.M):
        name, uses = row.group(1), row.group(2).strip()
        if name in rows:
            raise AssertionError(f"docs/architecture.md: two rows for {name}")
        rows[name] = [] if uses == "nothing" else [use.strip() for use in uses.split(",")]
    return rows


def included_modules(folder):
    found = {}
    for path in sorted(folder.iterdir()):
        if path.suffix in (".cpp", ".hpp"):
            for module in INCLUDE.findall(path.read_text()):
                found.setdefault(module, path.name)
    return found


class ModuleGraph(unittest.TestCase):
    def setUp(self):
        self.modules = declared_modules()

    def test_every_folder_is_a_declared_module(self):
        folders = {p.name for p in (ROOT / "src").iterdir() if p.is_dir()} - {"common"}
        self.assertEqual(folders, set(self.modules))
        for name, uses in self.modules.items():
            self.assertLessEqual(set(uses), set(self.modules), name)

    def test_graph_has_no_cycle(self):
        done, active = set(), []

        def visit(name):
            self.assertNotIn(name, active, f"cycle: {' -> '.join(active + [name])}")
            if name in done:
                return
            active.append(name)
            for used in self.modules[name]:
                visit(used)
            active.pop()
            done.add(name)

        for name in self.modules:
            visit(name)

    def test_includes_only_declared_modules(self):
        for name, uses in self.modules.items():
            allowed = {name, "common", *uses}
            for module, where in included_modules(ROOT / "src" / name).items():
                self.assertIn(module, allowed,
                              f"src/{name}/{where} includes {module}/ but {name} does not use it")

    def test_architecture_table_matches_the_build(self):
        documented = documented_modules()
        self.assertEqual(set(documented), set(self.modules),
                         "docs/architecture.md's module table and CMakeLists.txt name different modules")
        for name, uses in self.modules.items():
            self.assertEqual(sorted(documented[name]), sorted(uses),
                             f"docs/architecture.md: the uses of {name}")


if __name__ == "__main__":
    unittest.main(verbosity=2)
