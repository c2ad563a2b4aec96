// What a cell's work needs besides memory, its own signals and the pipe:
// what the cell asks for it (cell/cell.h) and what its confinement then
// allows (cell/confine.h).
#ifndef SAMBREL_CELL_NEEDS_H
#define SAMBREL_CELL_NEEDS_H

namespace cell {

// The terminal (reading standard input, writing standard output, getting
// the terminal's modes and reading its size), for a dialog drawn on it. Its
// modes are set before the child is confined, never after.
struct Needs {
    bool terminal = false;
};

} // namespace cell

#endif
