from types import ModuleType
from typing import Any

from addrnorm import LibpostalLoadError as LibpostalLoadError, TokenType as TokenType

DEFAULT: Any

def load(name: str) -> ModuleType: ...
