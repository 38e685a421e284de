#pragma once
// Makes video files readable by the input/output component: installs the FFmpeg-backed provider.
void InstallMediaProvider();
