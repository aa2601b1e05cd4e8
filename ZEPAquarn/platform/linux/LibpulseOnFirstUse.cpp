// libpulse, opened on its first call rather than with the executable, so that a launch shows its tray
// icon without loading the sound server's client library and the codec libraries it brings.
// The definitions below stand in for the library's own functions (the same names, with the signatures
// its header declares) and forward to them. When the library cannot be opened, each answers as the
// library answers a failed call, so the caller's error path reports it; the reason is logged.
#include "platform/SharedLibrary.h"

#include <pulse/pulseaudio.h>

namespace {

using zq::platform::LibraryOnFirstUse;
using zq::platform::SharedLibrary;

struct Libpulse {
    decltype(&::pa_context_connect) pa_context_connect = nullptr;
    decltype(&::pa_context_disconnect) pa_context_disconnect = nullptr;
    decltype(&::pa_context_errno) pa_context_errno = nullptr;
    decltype(&::pa_context_get_server_info) pa_context_get_server_info = nullptr;
    decltype(&::pa_context_get_sink_info_by_index) pa_context_get_sink_info_by_index = nullptr;
    decltype(&::pa_context_get_sink_info_by_name) pa_context_get_sink_info_by_name = nullptr;
    decltype(&::pa_context_get_sink_input_info_list) pa_context_get_sink_input_info_list = nullptr;
    decltype(&::pa_context_get_source_info_by_index) pa_context_get_source_info_by_index = nullptr;
    decltype(&::pa_context_get_source_info_by_name) pa_context_get_source_info_by_name = nullptr;
    decltype(&::pa_context_get_source_info_list) pa_context_get_source_info_list = nullptr;
    decltype(&::pa_context_get_state) pa_context_get_state = nullptr;
    decltype(&::pa_context_new) pa_context_new = nullptr;
    decltype(&::pa_context_set_sink_volume_by_index) pa_context_set_sink_volume_by_index = nullptr;
    decltype(&::pa_context_set_state_callback) pa_context_set_state_callback = nullptr;
    decltype(&::pa_context_set_subscribe_callback) pa_context_set_subscribe_callback = nullptr;
    decltype(&::pa_context_subscribe) pa_context_subscribe = nullptr;
    decltype(&::pa_context_unref) pa_context_unref = nullptr;
    decltype(&::pa_cvolume_max) pa_cvolume_max = nullptr;
    decltype(&::pa_cvolume_scale) pa_cvolume_scale = nullptr;
    decltype(&::pa_cvolume_valid) pa_cvolume_valid = nullptr;
    decltype(&::pa_operation_cancel) pa_operation_cancel = nullptr;
    decltype(&::pa_operation_get_state) pa_operation_get_state = nullptr;
    decltype(&::pa_operation_set_state_callback) pa_operation_set_state_callback = nullptr;
    decltype(&::pa_operation_unref) pa_operation_unref = nullptr;
    decltype(&::pa_proplist_contains) pa_proplist_contains = nullptr;
    decltype(&::pa_proplist_free) pa_proplist_free = nullptr;
    decltype(&::pa_proplist_gets) pa_proplist_gets = nullptr;
    decltype(&::pa_proplist_new) pa_proplist_new = nullptr;
    decltype(&::pa_proplist_sets) pa_proplist_sets = nullptr;
    decltype(&::pa_sample_spec_valid) pa_sample_spec_valid = nullptr;
    decltype(&::pa_stream_connect_playback) pa_stream_connect_playback = nullptr;
    decltype(&::pa_stream_connect_record) pa_stream_connect_record = nullptr;
    decltype(&::pa_stream_disconnect) pa_stream_disconnect = nullptr;
    decltype(&::pa_stream_drain) pa_stream_drain = nullptr;
    decltype(&::pa_stream_drop) pa_stream_drop = nullptr;
    decltype(&::pa_stream_get_device_name) pa_stream_get_device_name = nullptr;
    decltype(&::pa_stream_get_state) pa_stream_get_state = nullptr;
    decltype(&::pa_stream_new) pa_stream_new = nullptr;
    decltype(&::pa_stream_new_with_proplist) pa_stream_new_with_proplist = nullptr;
    decltype(&::pa_stream_peek) pa_stream_peek = nullptr;
    decltype(&::pa_stream_readable_size) pa_stream_readable_size = nullptr;
    decltype(&::pa_stream_set_moved_callback) pa_stream_set_moved_callback = nullptr;
    decltype(&::pa_stream_set_read_callback) pa_stream_set_read_callback = nullptr;
    decltype(&::pa_stream_set_state_callback) pa_stream_set_state_callback = nullptr;
    decltype(&::pa_stream_set_write_callback) pa_stream_set_write_callback = nullptr;
    decltype(&::pa_stream_unref) pa_stream_unref = nullptr;
    decltype(&::pa_stream_write) pa_stream_write = nullptr;
    decltype(&::pa_strerror) pa_strerror = nullptr;
    decltype(&::pa_threaded_mainloop_free) pa_threaded_mainloop_free = nullptr;
    decltype(&::pa_threaded_mainloop_get_api) pa_threaded_mainloop_get_api = nullptr;
    decltype(&::pa_threaded_mainloop_in_thread) pa_threaded_mainloop_in_thread = nullptr;
    decltype(&::pa_threaded_mainloop_lock) pa_threaded_mainloop_lock = nullptr;
    decltype(&::pa_threaded_mainloop_new) pa_threaded_mainloop_new = nullptr;
    decltype(&::pa_threaded_mainloop_start) pa_threaded_mainloop_start = nullptr;
    decltype(&::pa_threaded_mainloop_stop) pa_threaded_mainloop_stop = nullptr;
    decltype(&::pa_threaded_mainloop_unlock) pa_threaded_mainloop_unlock = nullptr;
    decltype(&::pa_usec_to_bytes) pa_usec_to_bytes = nullptr;

    void bind(SharedLibrary &library)
    {
        library.bind(pa_context_connect, "pa_context_connect");
        library.bind(pa_context_disconnect, "pa_context_disconnect");
        library.bind(pa_context_errno, "pa_context_errno");
        library.bind(pa_context_get_server_info, "pa_context_get_server_info");
        library.bind(pa_context_get_sink_info_by_index, "pa_context_get_sink_info_by_index");
        library.bind(pa_context_get_sink_info_by_name, "pa_context_get_sink_info_by_name");
        library.bind(pa_context_get_sink_input_info_list, "pa_context_get_sink_input_info_list");
        library.bind(pa_context_get_source_info_by_index, "pa_context_get_source_info_by_index");
        library.bind(pa_context_get_source_info_by_name, "pa_context_get_source_info_by_name");
        library.bind(pa_context_get_source_info_list, "pa_context_get_source_info_list");
        library.bind(pa_context_get_state, "pa_context_get_state");
        library.bind(pa_context_new, "pa_context_new");
        library.bind(pa_context_set_sink_volume_by_index, "pa_context_set_sink_volume_by_index");
        library.bind(pa_context_set_state_callback, "pa_context_set_state_callback");
        library.bind(pa_context_set_subscribe_callback, "pa_context_set_subscribe_callback");
        library.bind(pa_context_subscribe, "pa_context_subscribe");
        library.bind(pa_context_unref, "pa_context_unref");
        library.bind(pa_cvolume_max, "pa_cvolume_max");
        library.bind(pa_cvolume_scale, "pa_cvolume_scale");
        library.bind(pa_cvolume_valid, "pa_cvolume_valid");
        library.bind(pa_operation_cancel, "pa_operation_cancel");
        library.bind(pa_operation_get_state, "pa_operation_get_state");
        library.bind(pa_operation_set_state_callback, "pa_operation_set_state_callback");
        library.bind(pa_operation_unref, "pa_operation_unref");
        library.bind(pa_proplist_contains, "pa_proplist_contains");
        library.bind(pa_proplist_free, "pa_proplist_free");
        library.bind(pa_proplist_gets, "pa_proplist_gets");
        library.bind(pa_proplist_new, "pa_proplist_new");
        library.bind(pa_proplist_sets, "pa_proplist_sets");
        library.bind(pa_sample_spec_valid, "pa_sample_spec_valid");
        library.bind(pa_stream_connect_playback, "pa_stream_connect_playback");
        library.bind(pa_stream_connect_record, "pa_stream_connect_record");
        library.bind(pa_stream_disconnect, "pa_stream_disconnect");
        library.bind(pa_stream_drain, "pa_stream_drain");
        library.bind(pa_stream_drop, "pa_stream_drop");
        library.bind(pa_stream_get_device_name, "pa_stream_get_device_name");
        library.bind(pa_stream_get_state, "pa_stream_get_state");
        library.bind(pa_stream_new, "pa_stream_new");
        library.bind(pa_stream_new_with_proplist, "pa_stream_new_with_proplist");
        library.bind(pa_stream_peek, "pa_stream_peek");
        library.bind(pa_stream_readable_size, "pa_stream_readable_size");
        library.bind(pa_stream_set_moved_callback, "pa_stream_set_moved_callback");
        library.bind(pa_stream_set_read_callback, "pa_stream_set_read_callback");
        library.bind(pa_stream_set_state_callback, "pa_stream_set_state_callback");
        library.bind(pa_stream_set_write_callback, "pa_stream_set_write_callback");
        library.bind(pa_stream_unref, "pa_stream_unref");
        library.bind(pa_stream_write, "pa_stream_write");
        library.bind(pa_strerror, "pa_strerror");
        library.bind(pa_threaded_mainloop_free, "pa_threaded_mainloop_free");
        library.bind(pa_threaded_mainloop_get_api, "pa_threaded_mainloop_get_api");
        library.bind(pa_threaded_mainloop_in_thread, "pa_threaded_mainloop_in_thread");
        library.bind(pa_threaded_mainloop_lock, "pa_threaded_mainloop_lock");
        library.bind(pa_threaded_mainloop_new, "pa_threaded_mainloop_new");
        library.bind(pa_threaded_mainloop_start, "pa_threaded_mainloop_start");
        library.bind(pa_threaded_mainloop_stop, "pa_threaded_mainloop_stop");
        library.bind(pa_threaded_mainloop_unlock, "pa_threaded_mainloop_unlock");
        library.bind(pa_usec_to_bytes, "pa_usec_to_bytes");
    }
};

const LibraryOnFirstUse<Libpulse> &library()
{
    static const LibraryOnFirstUse<Libpulse> opened(QByteArrayLiteral("libpulse.so.0"));
    return opened;
}

const Libpulse *loaded()
{
    return library().functions();
}

const char *failureReason()
{
    return library().failureReason();
}

} // namespace

extern "C" {

int pa_context_connect(pa_context *c, const char *server, pa_context_flags_t flags, const pa_spawn_api *api)
{
    const auto *functions = loaded();
    return functions ? functions->pa_context_connect(c, server, flags, api) : -PA_ERR_NOTSUPPORTED;
}

void pa_context_disconnect(pa_context *c)
{
    if (const auto *functions = loaded())
        functions->pa_context_disconnect(c);
}

int pa_context_errno(const pa_context *c)
{
    const auto *functions = loaded();
    return functions ? functions->pa_context_errno(c) : PA_ERR_NOTSUPPORTED;
}

pa_operation *pa_context_get_server_info(pa_context *c, pa_server_info_cb_t cb, void *userdata)
{
    const auto *functions = loaded();
    return functions ? functions->pa_context_get_server_info(c, cb, userdata) : nullptr;
}

pa_operation *pa_context_get_sink_info_by_index(pa_context *c, uint32_t idx, pa_sink_info_cb_t cb, void *userdata)
{
    const auto *functions = loaded();
    return functions ? functions->pa_context_get_sink_info_by_index(c, idx, cb, userdata) : nullptr;
}

pa_operation *pa_context_get_sink_info_by_name(pa_context *c, const char *name, pa_sink_info_cb_t cb, void *userdata)
{
    const auto *functions = loaded();
    return functions ? functions->pa_context_get_sink_info_by_name(c, name, cb, userdata) : nullptr;
}

pa_operation *pa_context_get_sink_input_info_list(pa_context *c, pa_sink_input_info_cb_t cb, void *userdata)
{
    const auto *functions = loaded();
    return functions ? functions->pa_context_get_sink_input_info_list(c, cb, userdata) : nullptr;
}

pa_operation *pa_context_get_source_info_by_index(pa_context *c, uint32_t idx, pa_source_info_cb_t cb, void *userdata)
{
    const auto *functions = loaded();
    return functions ? functions->pa_context_get_source_info_by_index(c, idx, cb, userdata) : nullptr;
}

pa_operation *pa_context_get_source_info_by_name(pa_context *c, const char *name, pa_source_info_cb_t cb,
                                                 void *userdata)
{
    const auto *functions = loaded();
    return functions ? functions->pa_context_get_source_info_by_name(c, name, cb, userdata) : nullptr;
}

pa_operation *pa_context_get_source_info_list(pa_context *c, pa_source_info_cb_t cb, void *userdata)
{
    const auto *functions = loaded();
    return functions ? functions->pa_context_get_source_info_list(c, cb, userdata) : nullptr;
}

pa_context_state_t pa_context_get_state(const pa_context *c)
{
    const auto *functions = loaded();
    return functions ? functions->pa_context_get_state(c) : PA_CONTEXT_FAILED;
}

pa_context *pa_context_new(pa_mainloop_api *mainloop, const char *name)
{
    const auto *functions = loaded();
    return functions ? functions->pa_context_new(mainloop, name) : nullptr;
}

pa_operation *pa_context_set_sink_volume_by_index(pa_context *c, uint32_t idx, const pa_cvolume *volume,
                                                  pa_context_success_cb_t cb, void *userdata)
{
    const auto *functions = loaded();
    return functions ? functions->pa_context_set_sink_volume_by_index(c, idx, volume, cb, userdata) : nullptr;
}

void pa_context_set_state_callback(pa_context *c, pa_context_notify_cb_t cb, void *userdata)
{
    if (const auto *functions = loaded())
        functions->pa_context_set_state_callback(c, cb, userdata);
}

void pa_context_set_subscribe_callback(pa_context *c, pa_context_subscribe_cb_t cb, void *userdata)
{
    if (const auto *functions = loaded())
        functions->pa_context_set_subscribe_callback(c, cb, userdata);
}

pa_operation *pa_context_subscribe(pa_context *c, pa_subscription_mask_t m, pa_context_success_cb_t cb, void *userdata)
{
    const auto *functions = loaded();
    return functions ? functions->pa_context_subscribe(c, m, cb, userdata) : nullptr;
}

void pa_context_unref(pa_context *c)
{
    if (const auto *functions = loaded())
        functions->pa_context_unref(c);
}

pa_volume_t pa_cvolume_max(const pa_cvolume *a)
{
    const auto *functions = loaded();
    return functions ? functions->pa_cvolume_max(a) : PA_VOLUME_MUTED;
}

pa_cvolume *pa_cvolume_scale(pa_cvolume *v, pa_volume_t max)
{
    const auto *functions = loaded();
    return functions ? functions->pa_cvolume_scale(v, max) : nullptr;
}

int pa_cvolume_valid(const pa_cvolume *v)
{
    const auto *functions = loaded();
    return functions ? functions->pa_cvolume_valid(v) : 0;
}

void pa_operation_cancel(pa_operation *o)
{
    if (const auto *functions = loaded())
        functions->pa_operation_cancel(o);
}

pa_operation_state_t pa_operation_get_state(const pa_operation *o)
{
    const auto *functions = loaded();
    return functions ? functions->pa_operation_get_state(o) : PA_OPERATION_CANCELLED;
}

void pa_operation_set_state_callback(pa_operation *o, pa_operation_notify_cb_t cb, void *userdata)
{
    if (const auto *functions = loaded())
        functions->pa_operation_set_state_callback(o, cb, userdata);
}

void pa_operation_unref(pa_operation *o)
{
    if (const auto *functions = loaded())
        functions->pa_operation_unref(o);
}

int pa_proplist_contains(const pa_proplist *p, const char *key)
{
    const auto *functions = loaded();
    return functions ? functions->pa_proplist_contains(p, key) : 0;
}

void pa_proplist_free(pa_proplist *p)
{
    if (const auto *functions = loaded())
        functions->pa_proplist_free(p);
}

const char *pa_proplist_gets(const pa_proplist *p, const char *key)
{
    const auto *functions = loaded();
    return functions ? functions->pa_proplist_gets(p, key) : nullptr;
}

pa_proplist *pa_proplist_new(void)
{
    const auto *functions = loaded();
    return functions ? functions->pa_proplist_new() : nullptr;
}

int pa_proplist_sets(pa_proplist *p, const char *key, const char *value)
{
    const auto *functions = loaded();
    return functions ? functions->pa_proplist_sets(p, key, value) : -PA_ERR_NOTSUPPORTED;
}

int pa_sample_spec_valid(const pa_sample_spec *spec)
{
    const auto *functions = loaded();
    return functions ? functions->pa_sample_spec_valid(spec) : 0;
}

int pa_stream_connect_playback(pa_stream *s, const char *dev, const pa_buffer_attr *attr, pa_stream_flags_t flags,
                               const pa_cvolume *volume, pa_stream *sync_stream)
{
    const auto *functions = loaded();
    return functions ? functions->pa_stream_connect_playback(s, dev, attr, flags, volume, sync_stream)
                     : -PA_ERR_NOTSUPPORTED;
}

int pa_stream_connect_record(pa_stream *s, const char *dev, const pa_buffer_attr *attr, pa_stream_flags_t flags)
{
    const auto *functions = loaded();
    return functions ? functions->pa_stream_connect_record(s, dev, attr, flags) : -PA_ERR_NOTSUPPORTED;
}

int pa_stream_disconnect(pa_stream *s)
{
    const auto *functions = loaded();
    return functions ? functions->pa_stream_disconnect(s) : -PA_ERR_NOTSUPPORTED;
}

pa_operation *pa_stream_drain(pa_stream *s, pa_stream_success_cb_t cb, void *userdata)
{
    const auto *functions = loaded();
    return functions ? functions->pa_stream_drain(s, cb, userdata) : nullptr;
}

int pa_stream_drop(pa_stream *p)
{
    const auto *functions = loaded();
    return functions ? functions->pa_stream_drop(p) : -PA_ERR_NOTSUPPORTED;
}

const char *pa_stream_get_device_name(const pa_stream *s)
{
    const auto *functions = loaded();
    return functions ? functions->pa_stream_get_device_name(s) : nullptr;
}

pa_stream_state_t pa_stream_get_state(const pa_stream *p)
{
    const auto *functions = loaded();
    return functions ? functions->pa_stream_get_state(p) : PA_STREAM_FAILED;
}

pa_stream *pa_stream_new(pa_context *c, const char *name, const pa_sample_spec *ss, const pa_channel_map *map)
{
    const auto *functions = loaded();
    return functions ? functions->pa_stream_new(c, name, ss, map) : nullptr;
}

pa_stream *pa_stream_new_with_proplist(pa_context *c, const char *name, const pa_sample_spec *ss,
                                       const pa_channel_map *map, pa_proplist *p)
{
    const auto *functions = loaded();
    return functions ? functions->pa_stream_new_with_proplist(c, name, ss, map, p) : nullptr;
}

int pa_stream_peek(pa_stream *p, const void **data, size_t *nbytes)
{
    const auto *functions = loaded();
    return functions ? functions->pa_stream_peek(p, data, nbytes) : -PA_ERR_NOTSUPPORTED;
}

size_t pa_stream_readable_size(const pa_stream *p)
{
    const auto *functions = loaded();
    return functions ? functions->pa_stream_readable_size(p) : static_cast<size_t>(-1);
}

void pa_stream_set_moved_callback(pa_stream *p, pa_stream_notify_cb_t cb, void *userdata)
{
    if (const auto *functions = loaded())
        functions->pa_stream_set_moved_callback(p, cb, userdata);
}

void pa_stream_set_read_callback(pa_stream *p, pa_stream_request_cb_t cb, void *userdata)
{
    if (const auto *functions = loaded())
        functions->pa_stream_set_read_callback(p, cb, userdata);
}

void pa_stream_set_state_callback(pa_stream *s, pa_stream_notify_cb_t cb, void *userdata)
{
    if (const auto *functions = loaded())
        functions->pa_stream_set_state_callback(s, cb, userdata);
}

void pa_stream_set_write_callback(pa_stream *p, pa_stream_request_cb_t cb, void *userdata)
{
    if (const auto *functions = loaded())
        functions->pa_stream_set_write_callback(p, cb, userdata);
}

void pa_stream_unref(pa_stream *s)
{
    if (const auto *functions = loaded())
        functions->pa_stream_unref(s);
}

int pa_stream_write(pa_stream *p, const void *data, size_t nbytes, pa_free_cb_t free_cb, int64_t offset,
                    pa_seek_mode_t seek)
{
    const auto *functions = loaded();
    return functions ? functions->pa_stream_write(p, data, nbytes, free_cb, offset, seek) : -PA_ERR_NOTSUPPORTED;
}

const char *pa_strerror(int error)
{
    const auto *functions = loaded();
    return functions ? functions->pa_strerror(error) : failureReason();
}

void pa_threaded_mainloop_free(pa_threaded_mainloop *m)
{
    if (const auto *functions = loaded())
        functions->pa_threaded_mainloop_free(m);
}

pa_mainloop_api *pa_threaded_mainloop_get_api(pa_threaded_mainloop *m)
{
    const auto *functions = loaded();
    return functions ? functions->pa_threaded_mainloop_get_api(m) : nullptr;
}

int pa_threaded_mainloop_in_thread(pa_threaded_mainloop *m)
{
    const auto *functions = loaded();
    return functions ? functions->pa_threaded_mainloop_in_thread(m) : 0;
}

void pa_threaded_mainloop_lock(pa_threaded_mainloop *m)
{
    if (const auto *functions = loaded())
        functions->pa_threaded_mainloop_lock(m);
}

pa_threaded_mainloop *pa_threaded_mainloop_new(void)
{
    const auto *functions = loaded();
    return functions ? functions->pa_threaded_mainloop_new() : nullptr;
}

int pa_threaded_mainloop_start(pa_threaded_mainloop *m)
{
    const auto *functions = loaded();
    return functions ? functions->pa_threaded_mainloop_start(m) : -PA_ERR_NOTSUPPORTED;
}

void pa_threaded_mainloop_stop(pa_threaded_mainloop *m)
{
    if (const auto *functions = loaded())
        functions->pa_threaded_mainloop_stop(m);
}

void pa_threaded_mainloop_unlock(pa_threaded_mainloop *m)
{
    if (const auto *functions = loaded())
        functions->pa_threaded_mainloop_unlock(m);
}

size_t pa_usec_to_bytes(pa_usec_t t, const pa_sample_spec *spec)
{
    const auto *functions = loaded();
    return functions ? functions->pa_usec_to_bytes(t, spec) : 0;
}

} // extern "C"
