// The stack of each C++ throw, kept with the thrown object. A C++ exception
// reaches the interception points after its frames are unwound, and it may
// be handed to another thread and raised again there: the report takes the
// frames of the throw that made the exception, whichever thread reports it.
//
// Every executable linked with this library routes its throws through the
// recorder (linked with --wrap=__cxa_throw), the exceptions that
// std::make_exception_ptr makes without a throw
// (--wrap=__cxa_init_primary_exception), and frees of exception objects
// too, which end their records. Records live in a fixed ring
// shared by all threads: nothing is allocated per thread, so a throw on a
// fresh thread short of memory is still recorded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <typeinfo>

// The thrown object behind an exception_ptr (what the throw recorded), or
// null.
const void* ThrownObjectOf(const std::exception_ptr& error);

// Records the caller's stack for an exception that is raised without a
// throw expression (std::rethrow_exception of a new exception_ptr).
void RecordRaise(const std::exception_ptr& error);

// Copies the frames recorded at the throw of `object` (newest first; the
// first is the throw's call instruction in the thrower, every other one a
// return address). Returns the count, 0 when no record holds that object
// of that type. Allocation-free.
std::size_t FindThrowFrames(const void* object, const std::type_info* type, std::uint64_t* frames,
                            std::size_t capacity);

