#pragma once
// Rules of the run driver that tests check on their own.
class TWebCopyItems;

// True when the job at `index` is a single-file FTP transfer (download or upload) and the
// job right after it (active or not) is one too, with the same FTPHost, FTPUserID and
// FTPPassword (byte for byte; the port does not count): its connection may then stay open
// for that next job.
bool KeepConnectionFor(TWebCopyItems& items, int index);
