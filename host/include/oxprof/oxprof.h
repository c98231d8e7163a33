#ifndef OXPROF_OXPROF_H
#define OXPROF_OXPROF_H

/* The host profiler: counter events with JSON arguments, written as a trace in
 * the Chrome trace-event format (opens in Perfetto) and/or handed to a sink.
 *
 * Value handles are opaque. A value added to an object belongs to the object;
 * an object passed to oxprof_counter_event belongs to the event. Nobody
 * releases a handle that has been passed on.
 *
 * Threads: every call is thread-safe, under one process-wide lock, and the
 * value handles allocate: not for an audio thread. */

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct oxprof_value oxprof_value;

/* True when events of `category` would go nowhere: no trace and no sink, or
 * the category is ignored. */
bool oxprof_should_ignore(const char* category);

oxprof_value* oxprof_json_make_object(void);
oxprof_value* oxprof_json_make_int(int value);
/* Adds `value` under `key`; the object takes the value. */
void oxprof_json_object_add_value(oxprof_value* object, const char* key, oxprof_value* value);
/* Records a counter event; takes `args` (an object, may be null). */
void oxprof_counter_event(const char* category, const char* name, oxprof_value* args);

/* Starts writing a trace to `path` (replacing a trace in progress). False when
 * the file cannot be opened. */
bool oxprof_start_trace(const char* path);
/* Finishes the trace file. */
void oxprof_stop_trace(void);

/* Events of an ignored category are dropped. */
void oxprof_ignore_category(const char* category);
void oxprof_clear_ignored(void);

/* A sink sees every event that is not ignored: category, name, the arguments
 * as JSON text, and `user`. A null sink removes it. */
typedef void (*oxprof_sink)(const char* category, const char* name, const char* args_json,
                            void* user);
void oxprof_set_sink(oxprof_sink sink, void* user);

#ifdef __cplusplus
}
#endif

#endif
