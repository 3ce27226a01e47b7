// The first two lines of every answer the admin port sends, whatever it answers with.
#pragma once

/// The status line of every answer but the login request.
inline constexpr const char* StatusLine = "HTTP/1.0 200 OK";
/// The Server line of every answer, its trailing space included.
inline constexpr const char* ServerLine = "Server: Korvel Web Server/1.0 ";
