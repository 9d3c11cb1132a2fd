// zivsrc: a live GStreamer source of the camera's 8-bit grey images, on the
// zivcam client library. It streams one window of the sensor (the request's
// x, y, dx, dy, incrx, incry) and pushes one GRAY8 buffer per reply, its caps
// taken from what the camera delivers (the camera clips the window).
#pragma once

#include <gst/base/gstpushsrc.h>

G_BEGIN_DECLS

#define GST_TYPE_ZIV_SRC (gst_ziv_src_get_type())
G_DECLARE_FINAL_TYPE(GstZivSrc, gst_ziv_src, GST, ZIV_SRC, GstPushSrc)

G_END_DECLS
