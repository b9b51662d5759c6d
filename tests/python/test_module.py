import vesk


def test_module_imports_with_its_docstring():
    assert vesk.__name__ == "vesk"
    assert vesk.__doc__ == "The `vesk` Python module."
