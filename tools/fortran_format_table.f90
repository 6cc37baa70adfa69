! Writes the reference table of fixed-column fields that tests/record_format_test.cpp
! checks the listing formatter against: every value below in every format below, as
! gfortran writes it with rounding "compatible" (RC: a tie rounds away from zero, the
! listing's rule). Single-precision values are written from real(4), the others from
! real(8); each value is converted from its text by the run-time library, as C++'s
! strtof and strtod do on the same text.
!
!   gfortran -o /tmp/fortran_format_table tools/fortran_format_table.f90
!   /tmp/fortran_format_table > tests/data/fortran_format_table.txt
!
! A line: kind (4 or 8; 0 for an integer), the value's text, the format, and the field
! between bars.
program fortran_format_table
  implicit none
  character(len=16), parameter :: reals(*) = [character(len=16) :: &
      '0.0', '-0.0', '1.0', '-1.0', '0.5', '-0.5', '1.5', '2.5', '-2.5', '9.5', '99.5', &
      '0.125', '-0.125', '0.0625', '0.375', '1542.5', '-1542.5', '1543.5', '0.15425', &
      '0.115', '0.145', '2.675', '1.005', '0.1', '0.01', '0.001', '-0.001', '-0.004', &
      '-0.006', '3.14159265', '-3.14159265', '57.29578', '0.0174533', '123.456', &
      '0.000123456', '987654.321', '999999.5', '9.99995', '9.9999', '0.99995', &
      '0.099995', '10.0', '100.0', '1.0E-5', '1.25E-5', '6.02214076E23', '-1.0E-10', &
      '1.0E10', '1.0E30', '1.0E-30', '123456789.0', '2817.938', '0.00052703']
  character(len=16), parameter :: wide(*) = [character(len=16) :: &
      '1.0E99', '1.0E100', '1.0E-99', '1.0E-100', '1.0E-101', '-1.0E200', '4.5E307']
  character(len=8), parameter :: real_formats(*) = [character(len=8) :: &
      'E10.4', 'E12.5', 'E9.4', 'E10.3', 'E15.7', 'E8.1', 'E10.2', 'E14.6', 'E11.4', &
      'E7.4', 'F10.4', 'F8.2', 'F5.2', 'F4.2', 'F3.2', 'F7.3', 'F10.6', 'F12.2', 'F9.3', &
      'F4.0', 'F6.1', 'F8.5', 'F7.2']
  character(len=8), parameter :: wide_formats(*) = [character(len=8) :: &
      'E10.4', 'E12.4', 'E11.3', 'E9.2']
  character(len=12), parameter :: integers(*) = [character(len=12) :: &
      '0', '1', '-1', '7', '42', '-42', '999', '-999', '1000', '99999', '-99999', &
      '2147483647', '-2147483648']
  character(len=8), parameter :: integer_formats(*) = [character(len=8) :: &
      'I1', 'I2', 'I3', 'I4', 'I5', 'I7', 'I10', 'I12']
  integer :: i, j, n
  real(4) :: x4
  real(8) :: x8
  character(len=16) :: text

  do i = 1, size(reals)
    text = reals(i)
    read (text, *) x4
    read (text, *) x8
    do j = 1, size(real_formats)
      call put_real4(text, real_formats(j), x4)
      call put_real8(text, real_formats(j), x8)
    end do
  end do
  do i = 1, size(wide)
    text = wide(i)
    read (text, *) x8
    do j = 1, size(wide_formats)
      call put_real8(text, wide_formats(j), x8)
    end do
  end do
  do i = 1, size(integers)
    text = integers(i)
    read (text, *) n
    do j = 1, size(integer_formats)
      call put_integer(text, integer_formats(j), n)
    end do
  end do

contains

  subroutine put_real4(text, fmt, x)
    character(len=*), intent(in) :: text, fmt
    real(4), intent(in) :: x
    character(len=40) :: field
    write (field, '(RC,' // trim(fmt) // ')') x
    call put('4', text, fmt, field)
  end subroutine

  subroutine put_real8(text, fmt, x)
    character(len=*), intent(in) :: text, fmt
    real(8), intent(in) :: x
    character(len=40) :: field
    write (field, '(RC,' // trim(fmt) // ')') x
    call put('8', text, fmt, field)
  end subroutine

  subroutine put_integer(text, fmt, n)
    character(len=*), intent(in) :: text, fmt
    integer, intent(in) :: n
    character(len=40) :: field
    write (field, '(' // trim(fmt) // ')') n
    call put('0', text, fmt, field)
  end subroutine

  ! The field is the first w characters written (w from the format).
  subroutine put(kind, text, fmt, field)
    character(len=*), intent(in) :: kind, text, fmt, field
    integer :: w, dot
    dot = index(fmt, '.')
    if (dot == 0) dot = len_trim(fmt) + 1
    read (fmt(2:dot - 1), *) w
    write (*, '(a, 1x, a, 1x, a, 1x, a, a, a)') kind, trim(text), trim(fmt), '|', field(1:w), '|'
  end subroutine

end program
