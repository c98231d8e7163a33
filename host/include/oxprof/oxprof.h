#ifndef OXPROF_OXPROF_H
#define OXPROF_OXPROF_H

/** \file
 * The host profiler: counter events with JSON arguments, written as a trace in
 * the Chrome trace-event format (opens in Perfetto) and/or handed to a sink.
 *
 * Value handles are opaque. A value added to an object belongs to the object;
 * an object passed to oxprof_counter_event belongs to the event. Nobody
 * releases a handle that has been passed on, and there is no call to release
 * one that has not: pass every handle on.
 *
 * Threads: every call is thread-safe, under one process-wide lock, and the
 * value handles allocate: not for an audio thread.
 *
 * Errors: only oxprof_start_trace reports one. A null handle or text is taken
 * as empty or ignored, never read. */

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

/** An opaque JSON value: an integer, or an object whose members keep the order
 * they were added in. */
typedef struct oxprof_value oxprof_value;

/** True when events of `category` would go nowhere: no trace and no sink, or
 * the category is ignored. */
bool oxprof_should_ignore(const char* category);

/** A new, empty JSON object; pass it on with oxprof_counter_event. */
oxprof_value* oxprof_json_make_object(void);
/** A new JSON integer; pass it on with oxprof_json_object_add_value. */
oxprof_value* oxprof_json_make_int(int value);
/** Adds `value` under `key`; the object takes the value. A key added again
 * replaces the earlier value. */
void oxprof_json_object_add_value(oxprof_value* object, const char* key, oxprof_value* value);
/** Records a counter event; takes `args` (an object, may be null). */
void oxprof_counter_event(const char* category, const char* name, oxprof_value* args);

/** Starts writing a trace to `path` (replacing a trace in progress). False when
 * the file cannot be opened. */
bool oxprof_start_trace(const char* path);
/** Finishes the trace file. A trace still open when the library unloads is
 * finished then. */
void oxprof_stop_trace(void);

/** Events of an ignored category are dropped. */
void oxprof_ignore_category(const char* category);
/** Ignores no category any more. */
void oxprof_clear_ignored(void);

/** A sink sees every event that is not ignored: category, name, the arguments
 * as JSON text, and `user`. It is called under the profiler's lock, so it must
 * not call the profiler. */
typedef void (*oxprof_sink)(const char* category, const char* name, const char* args_json,
                            void* user);
/** Installs `sink` with its `user` pointer, replacing the previous one. A null
 * sink removes it. */
void oxprof_set_sink(oxprof_sink sink, void* user);

#ifdef __cplusplus
}
#endif

#endif
