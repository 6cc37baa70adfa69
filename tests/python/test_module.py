# The module as a user meets it: help(kaven) says what each call does, and the type stub
# beside the module names exactly what the module holds.
import ast
import pydoc
from pathlib import Path

import kaven


def test_help_and_stub_describe_the_module():
    text = pydoc.render_doc(kaven, renderer=pydoc.plaintext)
    for name in ("run(", "run_text(", "from_cif(", "class Result", "class InputError",
                 "class CifError", "KeyboardInterrupt", "'stopped'"):
        assert name in text, name

    stub = Path(kaven.__file__).with_name("kaven.pyi")
    tree = ast.parse(stub.read_text())
    stubbed = {n.name for n in tree.body if isinstance(n, (ast.FunctionDef, ast.ClassDef))}
    stubbed |= {n.target.id for n in tree.body if isinstance(n, ast.AnnAssign)}
    public = {n for n in dir(kaven) if not n.startswith("_")} | {"__version__"}
    assert stubbed == public
    result = next(n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == "Result")
    assert {n.name for n in result.body if isinstance(n, ast.FunctionDef)} == \
        {n for n in dir(kaven.Result) if not n.startswith("_")}
