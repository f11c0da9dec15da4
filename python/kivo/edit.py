"""Loads kivo.edit from kivo's own shared object, which holds all of kivo's modules."""

import importlib.machinery
import importlib.util
import sys

import kivo

_loader = importlib.machinery.ExtensionFileLoader(__name__, kivo.__file__)
_spec = importlib.util.spec_from_file_location(__name__, kivo.__file__, loader=_loader)
_module = importlib.util.module_from_spec(_spec)
_loader.exec_module(_module)
# The import system hands out what sys.modules holds once this file has run.
sys.modules[__name__] = _module
