# Type hints of the module kaven (a compiled module; see help(kaven) for what each call does).
import os
from typing import Any, Callable, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

__version__: str

_Path = Union[str, os.PathLike[str]]

class InputError(ValueError):
    """A value of the input could not be read; the message is the listing's."""

    listing: str

class CifError(ValueError):
    """The CIF cannot be turned into an input file."""

class Result:
    """What one run produced, as the command line's files hold it."""

    @property
    def status(self) -> str: ...  # 'complete' or 'stopped'
    @property
    def stop_message(self) -> str: ...
    @property
    def events(self) -> dict[str, npt.NDArray[Any]]: ...  # the events CSV's columns
    @property
    def scan(self) -> dict[str, npt.NDArray[np.floating[Any]]]: ...  # psi, calculated, measured
    @property
    def summary(self) -> dict[str, Any]: ...  # the JSON summary
    @property
    def listing(self) -> str: ...
    @property
    def messages(self) -> list[str]: ...

def run(
    input: _Path,
    output: Optional[_Path] = None,
    csv: bool = False,
    json: bool = False,
    progress: Optional[Callable[[str, float], object]] = None,
    threads: int = 0,
) -> Result: ...
def run_text(
    text: str,
    folder: _Path,
    output: Optional[_Path] = None,
    csv: bool = False,
    json: bool = False,
    progress: Optional[Callable[[str, float], object]] = None,
    threads: int = 0,
) -> Result: ...
def from_cif(
    path: _Path,
    hkl: Sequence[int],
    radiation: Optional[str] = None,
    wavelength: Optional[float] = None,
    synchrotron: bool = False,
    output: _Path = "NEW.inp",
    *,
    polarisation: str = ...,
    monochromator: Sequence[float] = ...,
    divergence: Sequence[float] = ...,
    crystal_radius: float = ...,
    block_radius: float = ...,
    mosaic: float = ...,
    psi: Sequence[float] = ...,
    steps_per_degree: float = ...,
    interference: int = ...,
    drumin: float = ...,
    zeimax: float = ...,
    primary_interval: Sequence[float] = ...,
    ub: Sequence[float] | Sequence[Sequence[float]] = ...,
    scan: str = ...,
    title: str = ...,
    plot: str = ...,
    block: str = ...,
) -> str: ...
