# Type hints of the module kaven (a compiled module; see help(kaven) for what each call does).
import os
from typing import Any, Callable, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

__version__: str

_Path = Union[str, os.PathLike[str]]

class InputError(ValueError):
    """A value of the input could not be read; the message is the listing's.

    Also an input that a plan over energy cannot take (an X-ray tube).
    """

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

class FitResult:
    """The fit of a run's simulated scan to its measured scan (OUTPUT-fit.json)."""

    @property
    def status(self) -> str: ...  # 'converged' or 'failed'
    @property
    def message(self) -> str: ...
    @property
    def parameters(self) -> dict[str, dict[str, Any]]: ...  # value, sigma, start, input, lower, upper, refined, at_bound
    @property
    def correlations(self) -> dict[str, Any]: ...  # names: list[str], matrix: ndarray
    @property
    def R(self) -> float: ...
    @property
    def R_weighted(self) -> float: ...
    @property
    def chi2_per_dof(self) -> float: ...
    @property
    def iterations(self) -> int: ...
    @property
    def wavelength(self) -> float: ...
    @property
    def energy_eV(self) -> float: ...
    @property
    def cell(self) -> tuple[float, ...]: ...  # a, b, c (empty without a fit)
    @property
    def psid(self) -> float: ...
    @property
    def peaks_before(self) -> dict[str, npt.NDArray[Any]]: ...
    @property
    def peaks_after(self) -> dict[str, npt.NDArray[Any]]: ...
    @property
    def asymmetry(self) -> dict[str, npt.NDArray[Any]]: ...
    @property
    def profile(self) -> dict[str, npt.NDArray[np.float64]]: ...  # psi, measured, sigma, start, fitted, background
    @property
    def refined_input(self) -> Optional[str]: ...
    @property
    def fit_json(self) -> Optional[str]: ...
    @property
    def json(self) -> Optional[dict[str, Any]]: ...
    @property
    def result(self) -> Result: ...

class PeakTable:
    """The peaks and dips of a measured scan indexed with the run's events."""

    @property
    def noise(self) -> float: ...
    @property
    def peaks(self) -> dict[str, npt.NDArray[Any]]: ...
    @property
    def result(self) -> Result: ...

class EnergyMap:
    """An energy map: the events of the psi range at each energy of a grid."""

    @property
    def rows(self) -> dict[str, npt.NDArray[Any]]: ...  # the map CSV's columns, one element per event
    @property
    def energies(self) -> dict[str, npt.NDArray[Any]]: ...  # energy_kev, wavelength, events, note
    @property
    def summary(self) -> Optional[dict[str, Any]]: ...
    @property
    def files(self) -> list[tuple[str, str]]: ...
    @property
    def result(self) -> Result: ...

class EnergyScan:
    """The primary reflection's intensity at one psi against the energy."""

    @property
    def rows(self) -> dict[str, npt.NDArray[Any]]: ...  # the energy-scan CSV's columns
    @property
    def shares(self) -> dict[str, npt.NDArray[Any]]: ...  # the crossings that make each feature
    @property
    def summary(self) -> Optional[dict[str, Any]]: ...
    @property
    def files(self) -> list[tuple[str, str]]: ...
    @property
    def result(self) -> Result: ...

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
def fit(
    input: _Path,
    output: Optional[_Path] = None,
    parameters: Union[None, str, Sequence[str]] = None,
    dispersion: bool = False,
    readings: bool = False,
    interference: Optional[int] = None,
    csv: bool = False,
    json: bool = False,
    progress: Optional[Callable[[str, float], object]] = None,
    threads: int = 0,
) -> FitResult: ...
def index_peaks(
    input: _Path,
    output: Optional[_Path] = None,
    csv: bool = False,
    json: bool = False,
    progress: Optional[Callable[[str, float], object]] = None,
    threads: int = 0,
) -> PeakTable: ...
def energy_map(
    input: _Path,
    e1: float,
    e2: float,
    n: int,
    output: Optional[_Path] = None,
    csv: bool = False,
    json: bool = False,
    progress: Optional[Callable[[str, float], object]] = None,
    threads: int = 0,
) -> EnergyMap: ...
def energy_scan(
    input: _Path,
    psi: float,
    e1: float,
    e2: float,
    n: int,
    output: Optional[_Path] = None,
    csv: bool = False,
    json: bool = False,
    progress: Optional[Callable[[str, float], object]] = None,
    threads: int = 0,
) -> EnergyScan: ...
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
