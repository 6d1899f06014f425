// The index file beside the data: loaded when it is sound, rebuilt and
// replaced when it is refused, and saved when this run noted more places.
#pragma once

#include "options.h"
#include "zpress/gzio.h"

namespace zpress_read {

class index_file {
  public:
    explicit index_file(const options& opts) : opts_(opts) {}

    // Gives the handle the saved places.  Without an index file the handle
    // notes places as it reads; a refused one is reported in one line and
    // the whole index is built anew, to replace it.
    void attach(gzstream::gz_handle* h);
    // Saves the places when this run noted more than it loaded, or loaded
    // them from a file of the format before.  A directory
    // that cannot be written is no failure: the next run notes them again.
    // `must` (--build): a failed save is reported; false then.
    bool save(gzstream::gz_handle* h, bool must);
    // A loaded index that the data refused at its first use (a place whose
    // compressed bytes changed): reported in one line like one refused at
    // the load, built anew and saved over it.  The reads went on from the
    // start meanwhile, so what was written is right.
    void replace_if_refused(gzstream::gz_handle* h);
    // The size of the index file on disk, 0 when there is none.
    long long size() const;

  private:
    void rebuild(gzstream::gz_handle* h, int reason);
    const options& opts_;
    gz_off_t loaded_points_ = 0;
    bool older_format_ = false;
};

}  // namespace zpress_read
