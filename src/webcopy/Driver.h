#pragma once
// The run driver: RunItems performs the active jobs of a component in order on the
// user-interface thread; Execute (a TWebCopy member) hands it there.
class TWebCopy;
class TWebCopyItems;

namespace webcopy {

void RunItems(TWebCopy& wc);

// True when the job at `index` is a single-file FTP transfer (download or upload) and the
// job right after it (active or not) is one too, with the same FTPHost, FTPPort, FTPUserID
// and FTPPassword (each compared on its own, byte for byte): its connection may then stay
// open for that next job.
bool KeepConnectionFor(TWebCopyItems& items, int index);

}  // namespace webcopy
