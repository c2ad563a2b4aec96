/*
 * The core library's operations, as the program calls them.
 *
 * Everything the program asks of the operating system passes through this
 * header: the registry, the program's resources, modal dialogs, the message
 * box and the wide-text routines, declared here in namespace coredll from
 * their table, coredll_operations.h, which says what each does. Each
 * platform supplies coredll_types.h (the Win32 type names) and one
 * implementation of these functions; the build picks the pair.
 */
#ifndef SAMBREL_PLATFORM_COREDLL_H
#define SAMBREL_PLATFORM_COREDLL_H

#include "coredll_types.h"

namespace coredll {

#define COREDLL_OPERATION(ordinal, name, fails, desktop, bridge, result, parameters, arguments) \
    result name parameters;
#include "platform/coredll_operations.h"

} // namespace coredll

/* The table guards itself: each row's ordinal and name become enumerators,
 * so that a second row of either does not compile, and the rows must be as
 * many as the table says, the count its other readers hold theirs to. */
namespace coredll_table {
enum Ordinals {
#define COREDLL_OPERATION(ordinal, name, ...) ordinal_##ordinal,
#include "platform/coredll_operations.h"
};
enum Names {
#define COREDLL_OPERATION(ordinal, name, ...) name_##name,
#include "platform/coredll_operations.h"
    rows
};
static_assert(rows == COREDLL_OPERATIONS_COUNT,
              "platform/coredll_operations.h holds other than COREDLL_OPERATIONS_COUNT rows");
} // namespace coredll_table

#endif
