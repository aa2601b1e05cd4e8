// libpulse, opened on its first call rather than with the executable, so that a launch shows its tray
// icon without loading the sound server's client library and the codec libraries it brings.
// The definitions below stand in for the library's own functions (the same names, with the signatures
// its header declares) and forward to them. When the library cannot be opened, each answers as the
// library answers a failed call, so the caller's error path reports it; the reason is logged.
#include "platform/SharedLibrary.h"

#include <pulse/pulseaudio.h>

namespace {

#define LIBPULSE_FUNCTIONS(X)                                                                                          \
    X(pa_context_connect)                                                                                              \
    X(pa_context_disconnect)                                                                                           \
    X(pa_context_errno)                                                                                                \
    X(pa_context_get_server_info)                                                                                      \
    X(pa_context_get_sink_info_by_index)                                                                               \
    X(pa_context_get_sink_info_by_name)                                                                                \
    X(pa_context_get_sink_input_info_list)                                                                             \
    X(pa_context_get_source_info_by_index)                                                                             \
    X(pa_context_get_source_info_by_name)                                                                              \
    X(pa_context_get_source_info_list)                                                                                 \
    X(pa_context_get_state)                                                                                            \
    X(pa_context_new)                                                                                                  \
    X(pa_context_set_sink_volume_by_index)                                                                             \
    X(pa_context_set_state_callback)                                                                                   \
    X(pa_context_set_subscribe_callback)                                                                               \
    X(pa_context_subscribe)                                                                                            \
    X(pa_context_unref)                                                                                                \
    X(pa_cvolume_max)                                                                                                  \
    X(pa_cvolume_scale)                                                                                                \
    X(pa_cvolume_valid)                                                                                                \
    X(pa_operation_cancel)                                                                                             \
    X(pa_operation_get_state)                                                                                          \
    X(pa_operation_set_state_callback)                                                                                 \
    X(pa_operation_unref)                                                                                              \
    X(pa_proplist_contains)                                                                                            \
    X(pa_proplist_free)                                                                                                \
    X(pa_proplist_gets)                                                                                                \
    X(pa_proplist_new)                                                                                                 \
    X(pa_proplist_sets)                                                                                                \
    X(pa_sample_spec_valid)                                                                                            \
    X(pa_stream_connect_playback)                                                                                      \
    X(pa_stream_connect_record)                                                                                        \
    X(pa_stream_disconnect)                                                                                            \
    X(pa_stream_drain)                                                                                                 \
    X(pa_stream_drop)                                                                                                  \
    X(pa_stream_get_device_name)                                                                                       \
    X(pa_stream_get_state)                                                                                             \
    X(pa_stream_new)                                                                                                   \
    X(pa_stream_new_with_proplist)                                                                                     \
    X(pa_stream_peek)                                                                                                  \
    X(pa_stream_readable_size)                                                                                         \
    X(pa_stream_set_moved_callback)                                                                                    \
    X(pa_stream_set_read_callback)                                                                                     \
    X(pa_stream_set_state_callback)                                                                                    \
    X(pa_stream_set_write_callback)                                                                                    \
    X(pa_stream_unref)                                                                                                 \
    X(pa_stream_write)                                                                                                 \
    X(pa_strerror)                                                                                                     \
    X(pa_threaded_mainloop_free)                                                                                       \
    X(pa_threaded_mainloop_get_api)                                                                                    \
    X(pa_threaded_mainloop_in_thread)                                                                                  \
    X(pa_threaded_mainloop_lock)                                                                                       \
    X(pa_threaded_mainloop_new)                                                                                        \
    X(pa_threaded_mainloop_start)                                                                                      \
    X(pa_threaded_mainloop_stop)                                                                                       \
    X(pa_threaded_mainloop_unlock)                                                                                     \
    X(pa_usec_to_bytes)
ZQ_LIBRARY_ON_FIRST_USE(Libpulse, LIBPULSE_FUNCTIONS, "libpulse.so.0");

} // namespace

extern "C" {

int pa_context_connect(pa_context *c, const char *server, pa_context_flags_t flags, const pa_spawn_api *api)
{
    return library().forwardOr<&Libpulse::pa_context_connect>(-PA_ERR_NOTSUPPORTED, c, server, flags, api);
}

void pa_context_disconnect(pa_context *c)
{
    library().forward<&Libpulse::pa_context_disconnect>(c);
}

int pa_context_errno(const pa_context *c)
{
    return library().forwardOr<&Libpulse::pa_context_errno>(PA_ERR_NOTSUPPORTED, c);
}

pa_operation *pa_context_get_server_info(pa_context *c, pa_server_info_cb_t cb, void *userdata)
{
    return library().forwardOr<&Libpulse::pa_context_get_server_info>(nullptr, c, cb, userdata);
}

pa_operation *pa_context_get_sink_info_by_index(pa_context *c, uint32_t idx, pa_sink_info_cb_t cb, void *userdata)
{
    return library().forwardOr<&Libpulse::pa_context_get_sink_info_by_index>(nullptr, c, idx, cb, userdata);
}

pa_operation *pa_context_get_sink_info_by_name(pa_context *c, const char *name, pa_sink_info_cb_t cb, void *userdata)
{
    return library().forwardOr<&Libpulse::pa_context_get_sink_info_by_name>(nullptr, c, name, cb, userdata);
}

pa_operation *pa_context_get_sink_input_info_list(pa_context *c, pa_sink_input_info_cb_t cb, void *userdata)
{
    return library().forwardOr<&Libpulse::pa_context_get_sink_input_info_list>(nullptr, c, cb, userdata);
}

pa_operation *pa_context_get_source_info_by_index(pa_context *c, uint32_t idx, pa_source_info_cb_t cb, void *userdata)
{
    return library().forwardOr<&Libpulse::pa_context_get_source_info_by_index>(nullptr, c, idx, cb, userdata);
}

pa_operation *pa_context_get_source_info_by_name(pa_context *c, const char *name, pa_source_info_cb_t cb,
                                                 void *userdata)
{
    return library().forwardOr<&Libpulse::pa_context_get_source_info_by_name>(nullptr, c, name, cb, userdata);
}

pa_operation *pa_context_get_source_info_list(pa_context *c, pa_source_info_cb_t cb, void *userdata)
{
    return library().forwardOr<&Libpulse::pa_context_get_source_info_list>(nullptr, c, cb, userdata);
}

pa_context_state_t pa_context_get_state(const pa_context *c)
{
    return library().forwardOr<&Libpulse::pa_context_get_state>(PA_CONTEXT_FAILED, c);
}

pa_context *pa_context_new(pa_mainloop_api *mainloop, const char *name)
{
    return library().forwardOr<&Libpulse::pa_context_new>(nullptr, mainloop, name);
}

pa_operation *pa_context_set_sink_volume_by_index(pa_context *c, uint32_t idx, const pa_cvolume *volume,
                                                  pa_context_success_cb_t cb, void *userdata)
{
    return library().forwardOr<&Libpulse::pa_context_set_sink_volume_by_index>(nullptr, c, idx, volume, cb, userdata);
}

void pa_context_set_state_callback(pa_context *c, pa_context_notify_cb_t cb, void *userdata)
{
    library().forward<&Libpulse::pa_context_set_state_callback>(c, cb, userdata);
}

void pa_context_set_subscribe_callback(pa_context *c, pa_context_subscribe_cb_t cb, void *userdata)
{
    library().forward<&Libpulse::pa_context_set_subscribe_callback>(c, cb, userdata);
}

pa_operation *pa_context_subscribe(pa_context *c, pa_subscription_mask_t m, pa_context_success_cb_t cb, void *userdata)
{
    return library().forwardOr<&Libpulse::pa_context_subscribe>(nullptr, c, m, cb, userdata);
}

void pa_context_unref(pa_context *c)
{
    library().forward<&Libpulse::pa_context_unref>(c);
}

pa_volume_t pa_cvolume_max(const pa_cvolume *a)
{
    return library().forwardOr<&Libpulse::pa_cvolume_max>(PA_VOLUME_MUTED, a);
}

pa_cvolume *pa_cvolume_scale(pa_cvolume *v, pa_volume_t max)
{
    return library().forwardOr<&Libpulse::pa_cvolume_scale>(nullptr, v, max);
}

int pa_cvolume_valid(const pa_cvolume *v)
{
    return library().forwardOr<&Libpulse::pa_cvolume_valid>(0, v);
}

void pa_operation_cancel(pa_operation *o)
{
    library().forward<&Libpulse::pa_operation_cancel>(o);
}

pa_operation_state_t pa_operation_get_state(const pa_operation *o)
{
    return library().forwardOr<&Libpulse::pa_operation_get_state>(PA_OPERATION_CANCELLED, o);
}

void pa_operation_set_state_callback(pa_operation *o, pa_operation_notify_cb_t cb, void *userdata)
{
    library().forward<&Libpulse::pa_operation_set_state_callback>(o, cb, userdata);
}

void pa_operation_unref(pa_operation *o)
{
    library().forward<&Libpulse::pa_operation_unref>(o);
}

int pa_proplist_contains(const pa_proplist *p, const char *key)
{
    return library().forwardOr<&Libpulse::pa_proplist_contains>(0, p, key);
}

void pa_proplist_free(pa_proplist *p)
{
    library().forward<&Libpulse::pa_proplist_free>(p);
}

const char *pa_proplist_gets(const pa_proplist *p, const char *key)
{
    return library().forwardOr<&Libpulse::pa_proplist_gets>(nullptr, p, key);
}

pa_proplist *pa_proplist_new(void)
{
    return library().forwardOr<&Libpulse::pa_proplist_new>(nullptr);
}

int pa_proplist_sets(pa_proplist *p, const char *key, const char *value)
{
    return library().forwardOr<&Libpulse::pa_proplist_sets>(-PA_ERR_NOTSUPPORTED, p, key, value);
}

int pa_sample_spec_valid(const pa_sample_spec *spec)
{
    return library().forwardOr<&Libpulse::pa_sample_spec_valid>(0, spec);
}

int pa_stream_connect_playback(pa_stream *s, const char *dev, const pa_buffer_attr *attr, pa_stream_flags_t flags,
                               const pa_cvolume *volume, pa_stream *sync_stream)
{
    return library().forwardOr<&Libpulse::pa_stream_connect_playback>(-PA_ERR_NOTSUPPORTED, s, dev, attr, flags, volume,
                                                                      sync_stream);
}

int pa_stream_connect_record(pa_stream *s, const char *dev, const pa_buffer_attr *attr, pa_stream_flags_t flags)
{
    return library().forwardOr<&Libpulse::pa_stream_connect_record>(-PA_ERR_NOTSUPPORTED, s, dev, attr, flags);
}

int pa_stream_disconnect(pa_stream *s)
{
    return library().forwardOr<&Libpulse::pa_stream_disconnect>(-PA_ERR_NOTSUPPORTED, s);
}

pa_operation *pa_stream_drain(pa_stream *s, pa_stream_success_cb_t cb, void *userdata)
{
    return library().forwardOr<&Libpulse::pa_stream_drain>(nullptr, s, cb, userdata);
}

int pa_stream_drop(pa_stream *p)
{
    return library().forwardOr<&Libpulse::pa_stream_drop>(-PA_ERR_NOTSUPPORTED, p);
}

const char *pa_stream_get_device_name(const pa_stream *s)
{
    return library().forwardOr<&Libpulse::pa_stream_get_device_name>(nullptr, s);
}

pa_stream_state_t pa_stream_get_state(const pa_stream *p)
{
    return library().forwardOr<&Libpulse::pa_stream_get_state>(PA_STREAM_FAILED, p);
}

pa_stream *pa_stream_new(pa_context *c, const char *name, const pa_sample_spec *ss, const pa_channel_map *map)
{
    return library().forwardOr<&Libpulse::pa_stream_new>(nullptr, c, name, ss, map);
}

pa_stream *pa_stream_new_with_proplist(pa_context *c, const char *name, const pa_sample_spec *ss,
                                       const pa_channel_map *map, pa_proplist *p)
{
    return library().forwardOr<&Libpulse::pa_stream_new_with_proplist>(nullptr, c, name, ss, map, p);
}

int pa_stream_peek(pa_stream *p, const void **data, size_t *nbytes)
{
    return library().forwardOr<&Libpulse::pa_stream_peek>(-PA_ERR_NOTSUPPORTED, p, data, nbytes);
}

size_t pa_stream_readable_size(const pa_stream *p)
{
    return library().forwardOr<&Libpulse::pa_stream_readable_size>(static_cast<size_t>(-1), p);
}

void pa_stream_set_moved_callback(pa_stream *p, pa_stream_notify_cb_t cb, void *userdata)
{
    library().forward<&Libpulse::pa_stream_set_moved_callback>(p, cb, userdata);
}

void pa_stream_set_read_callback(pa_stream *p, pa_stream_request_cb_t cb, void *userdata)
{
    library().forward<&Libpulse::pa_stream_set_read_callback>(p, cb, userdata);
}

void pa_stream_set_state_callback(pa_stream *s, pa_stream_notify_cb_t cb, void *userdata)
{
    library().forward<&Libpulse::pa_stream_set_state_callback>(s, cb, userdata);
}

void pa_stream_set_write_callback(pa_stream *p, pa_stream_request_cb_t cb, void *userdata)
{
    library().forward<&Libpulse::pa_stream_set_write_callback>(p, cb, userdata);
}

void pa_stream_unref(pa_stream *s)
{
    library().forward<&Libpulse::pa_stream_unref>(s);
}

int pa_stream_write(pa_stream *p, const void *data, size_t nbytes, pa_free_cb_t free_cb, int64_t offset,
                    pa_seek_mode_t seek)
{
    return library().forwardOr<&Libpulse::pa_stream_write>(-PA_ERR_NOTSUPPORTED, p, data, nbytes, free_cb, offset,
                                                           seek);
}

const char *pa_strerror(int error)
{
    return library().forwardOr<&Libpulse::pa_strerror>(Library::Reason{}, error);
}

void pa_threaded_mainloop_free(pa_threaded_mainloop *m)
{
    library().forward<&Libpulse::pa_threaded_mainloop_free>(m);
}

pa_mainloop_api *pa_threaded_mainloop_get_api(pa_threaded_mainloop *m)
{
    return library().forwardOr<&Libpulse::pa_threaded_mainloop_get_api>(nullptr, m);
}

int pa_threaded_mainloop_in_thread(pa_threaded_mainloop *m)
{
    return library().forwardOr<&Libpulse::pa_threaded_mainloop_in_thread>(0, m);
}

void pa_threaded_mainloop_lock(pa_threaded_mainloop *m)
{
    library().forward<&Libpulse::pa_threaded_mainloop_lock>(m);
}

pa_threaded_mainloop *pa_threaded_mainloop_new(void)
{
    return library().forwardOr<&Libpulse::pa_threaded_mainloop_new>(nullptr);
}

int pa_threaded_mainloop_start(pa_threaded_mainloop *m)
{
    return library().forwardOr<&Libpulse::pa_threaded_mainloop_start>(-PA_ERR_NOTSUPPORTED, m);
}

void pa_threaded_mainloop_stop(pa_threaded_mainloop *m)
{
    library().forward<&Libpulse::pa_threaded_mainloop_stop>(m);
}

void pa_threaded_mainloop_unlock(pa_threaded_mainloop *m)
{
    library().forward<&Libpulse::pa_threaded_mainloop_unlock>(m);
}

size_t pa_usec_to_bytes(pa_usec_t t, const pa_sample_spec *spec)
{
    return library().forwardOr<&Libpulse::pa_usec_to_bytes>(0, t, spec);
}

} // extern "C"
