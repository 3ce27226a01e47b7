// The OpenAPI description, kept beside the routes it describes (apirouter.cpp, sitesresource.cpp,
// maintenanceresource.cpp).
#include "api/openapi.h"

#include "web/statusview.h"

#include "platform/json.h"

namespace {

const char* const Description = R"json({
  "openapi": "3.0.3",
  "info": {
    "title": "vkt API",
    "description": "The monitored sites of a vkt daemon, their maintenance windows and the acknowledgement of their outages, and its status board. Resources under /api/v1 need a bearer token made with `vkt-datutil token add NAME [--role ROLE]`, or the session cookie of a user signed in at /api/v1/session (whose changes repeat the session's CSRF value in the X-CSRF-Token header). Each has a role: a viewer reads all but users and tokens, an operator also acknowledges outages and makes or ends maintenance windows, an admin may do everything; a request beyond its role is 403 naming the role it needs. An address that keeps presenting bad tokens must wait (429). Every path answers a method it does not take with 405 and an `Allow` header (`MethodNotAllowed`), a path not described here with 404 (`NoSuchPath`), and a path or query holding `%00` with 400.",
    "version": "VERSION"
  },
  "servers": [{"url": "/", "description": "The listener that serves this description"}],
  "security": [{"bearer": []}, {"session": []}],
  "x-every-path": {"400": {"$ref": "#/components/responses/BadTarget"}, "404": {"$ref": "#/components/responses/NoSuchPath"}, "405": {"$ref": "#/components/responses/MethodNotAllowed"}},
  "paths": {
    "/api/v1/sites": {
      "get": {
        "summary": "The sites, with what the last scans saw of them",
        "description": "By code. Without `limit` every site the filters keep, sent as it is read; with it a page, and `next` for the page after while more sites are kept.",
        "operationId": "listSites",
        "parameters": [{"name": "daemon", "in": "query", "required": false, "description": "Only the sites of this Daemon ID", "schema": {"type": "string"}}, {"$ref": "#/components/parameters/Filter"}, {"$ref": "#/components/parameters/State"}, {"$ref": "#/components/parameters/Tag"}, {"$ref": "#/components/parameters/Limit"}, {"$ref": "#/components/parameters/After"}],
        "responses": {
          "200": {"description": "The sites, by code", "content": {"application/json": {"schema": {"type": "object", "required": ["sites"], "properties": {"sites": {"type": "array", "items": {"$ref": "#/components/schemas/Site"}}, "next": {"$ref": "#/components/schemas/NextPage"}}}}}},
          "400": {"$ref": "#/components/responses/Invalid"},
          "401": {"$ref": "#/components/responses/Unauthorized"},
          "429": {"$ref": "#/components/responses/TooMany"},
          "503": {"$ref": "#/components/responses/Unavailable"}
        }
      },
      "post": {
        "summary": "Adds a site; the next scan probes it",
        "operationId": "createSite",
        "requestBody": {"required": true, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/NewSite"}}}},
        "responses": {
          "201": {"description": "Made", "headers": {"Location": {"description": "The new site's path, the code percent-encoded", "required": true, "schema": {"type": "string"}}}, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Site"}}}},
          "400": {"$ref": "#/components/responses/Invalid"},
          "401": {"$ref": "#/components/responses/Unauthorized"},
          "403": {"$ref": "#/components/responses/ReadOnly"},
          "409": {"description": "A site has this code already", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
          "413": {"$ref": "#/components/responses/TooLarge"},
          "429": {"$ref": "#/components/responses/TooMany"},
          "503": {"$ref": "#/components/responses/Unavailable"}
        }
      }
    },
    "/api/v1/sites/{code}": {
      "parameters": [{"$ref": "#/components/parameters/Code"}],
      "get": {
        "summary": "One site",
        "operationId": "getSite",
        "responses": {
          "200": {"description": "The site", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Site"}}}},
          "400": {"$ref": "#/components/responses/BadTarget"},
          "401": {"$ref": "#/components/responses/Unauthorized"},
          "404": {"$ref": "#/components/responses/NotFound"},
          "429": {"$ref": "#/components/responses/TooMany"},
          "503": {"$ref": "#/components/responses/Unavailable"}
        }
      },
      "put": {
        "summary": "Replaces the site's values; fields left out are emptied (the daemon stays)",
        "operationId": "replaceSite",
        "requestBody": {"required": true, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/SiteReplacement"}}}},
        "responses": {
          "200": {"description": "Changed", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Site"}}}},
          "400": {"$ref": "#/components/responses/Invalid"},
          "401": {"$ref": "#/components/responses/Unauthorized"},
          "403": {"$ref": "#/components/responses/ReadOnly"},
          "404": {"$ref": "#/components/responses/NotFound"},
          "413": {"$ref": "#/components/responses/TooLarge"},
          "429": {"$ref": "#/components/responses/TooMany"},
          "503": {"$ref": "#/components/responses/Unavailable"}
        }
      },
      "patch": {
        "summary": "Changes the fields given; the others keep their values",
        "operationId": "changeSite",
        "requestBody": {"required": true, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/SiteInput"}}}},
        "responses": {
          "200": {"description": "Changed", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Site"}}}},
          "400": {"$ref": "#/components/responses/Invalid"},
          "401": {"$ref": "#/components/responses/Unauthorized"},
          "403": {"$ref": "#/components/responses/ReadOnly"},
          "404": {"$ref": "#/components/responses/NotFound"},
          "413": {"$ref": "#/components/responses/TooLarge"},
          "429": {"$ref": "#/components/responses/TooMany"},
          "503": {"$ref": "#/components/responses/Unavailable"}
        }
      },
      "delete": {
        "summary": "Removes the site and its VKT rows; its alarm rows go with the daily purge",
        "operationId": "deleteSite",
        "responses": {
          "204": {"description": "Removed"},
          "400": {"$ref": "#/components/responses/BadTarget"},
          "401": {"$ref": "#/components/responses/Unauthorized"},
          "403": {"$ref": "#/components/responses/ReadOnly"},
          "404": {"$ref": "#/components/responses/NotFound"},
          "429": {"$ref": "#/components/responses/TooMany"},
          "503": {"$ref": "#/components/responses/Unavailable"}
        }
      }
    },
    "/api/v1/sites/{code}/ack": {
      "parameters": [{"$ref": "#/components/parameters/Code"}],
      "post": {
        "summary": "Acknowledges the site's open outage as the token; its reminders and escalation stop",
        "description": "Taken only while [Alert] Remind or Escalate is set. The daemon stores it and logs `Outage of CODE acknowledged by TOKEN: COMMENT`.",
        "operationId": "acknowledgeOutage",
        "requestBody": {"required": false, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/AckInput"}}}},
        "responses": {
          "200": {"description": "Acknowledged; the site as the board now shows it", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Site"}}}},
          "400": {"$ref": "#/components/responses/Invalid"},
          "401": {"$ref": "#/components/responses/Unauthorized"},
          "403": {"$ref": "#/components/responses/ReadOnly"},
          "404": {"$ref": "#/components/responses/NotFound"},
          "409": {"description": "The site has no open outage, or outages are not acknowledged ([Alert] Remind and Escalate unset)", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
          "413": {"$ref": "#/components/responses/TooLarge"},
          "429": {"$ref": "#/components/responses/TooMany"},
          "503": {"$ref": "#/components/responses/Unavailable"}
        }
      }
    },
    "/api/v1/maintenance": {
      "get": {
        "summary": "The maintenance windows running and to come, a page at a time",
        "description": "By the start of the occurrence shown, then by id. Follow `next` for the page after.",
        "operationId": "listMaintenance",
        "parameters": [
          {"name": "limit", "in": "query", "required": false, "description": "Windows per page", "schema": {"type": "integer", "minimum": 1, "maximum": 1000, "default": 100}},
          {"name": "after", "in": "query", "required": false, "description": "The cursor of the page before, as `next` carries it", "schema": {"type": "string", "pattern": "^[0-9]{1,18}\\.[0-9]{1,18}$"}}
        ],
        "responses": {
          "200": {"description": "The windows", "content": {"application/json": {"schema": {"type": "object", "required": ["windows", "total", "next"], "properties": {"windows": {"type": "array", "items": {"$ref": "#/components/schemas/Maintenance"}}, "total": {"type": "integer", "description": "The windows running and to come in all"}, "next": {"type": "string", "nullable": true, "description": "The path of the next page; null on the last"}}}}}},
          "400": {"$ref": "#/components/responses/Invalid"},
          "401": {"$ref": "#/components/responses/Unauthorized"},
          "429": {"$ref": "#/components/responses/TooMany"},
          "503": {"$ref": "#/components/responses/Unavailable"}
        }
      },
      "post": {
        "summary": "Makes a maintenance window, in force at once, under the rules of the status page's form",
        "description": "A one-off window from now for `minutes`, or from `start` to `end`; a weekly one with `weekdays`, `time` and `minutes`. Made by the token; stored before the answer and logged `Maintenance window for CODE made by TOKEN: ...`. At most 10,000 windows running or to come.",
        "operationId": "makeMaintenance",
        "requestBody": {"required": true, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/MaintenanceInput"}}}},
        "responses": {
          "201": {"description": "Made", "headers": {"Location": {"description": "The window's path", "required": true, "schema": {"type": "string"}}}, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Maintenance"}}}},
          "400": {"$ref": "#/components/responses/Invalid"},
          "401": {"$ref": "#/components/responses/Unauthorized"},
          "403": {"$ref": "#/components/responses/ReadOnly"},
          "409": {"description": "The daemon has 10,000 windows running or to come", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
          "413": {"$ref": "#/components/responses/TooLarge"},
          "429": {"$ref": "#/components/responses/TooMany"},
          "503": {"$ref": "#/components/responses/Unavailable"}
        }
      }
    },
    "/api/v1/maintenance/{id}": {
      "parameters": [{"name": "id", "in": "path", "required": true, "schema": {"type": "string", "pattern": "^[0-9]{1,18}$"}}],
      "delete": {
        "summary": "Ends the window now; a weekly one for good",
        "operationId": "endMaintenance",
        "responses": {
          "204": {"description": "Ended"},
          "400": {"$ref": "#/components/responses/BadTarget"},
          "401": {"$ref": "#/components/responses/Unauthorized"},
          "403": {"$ref": "#/components/responses/ReadOnly"},
          "404": {"description": "No window of this id is running or to come", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
          "429": {"$ref": "#/components/responses/TooMany"},
          "503": {"$ref": "#/components/responses/Unavailable"}
        }
      }
    },
    "/api/v1/session": {
      "post": {
        "summary": "Signs a user in: a session cookie and the CSRF value its changes repeat",
        "description": "JSON or a form of `user` and `password`. A wrong pair counts as a bad token does (429 after five). The cookie `vkt_session` is HttpOnly, SameSite=Strict, Path=/, and Secure over HTTPS; a session unused for 30 minutes ends.",
        "operationId": "signIn",
        "security": [],
        "requestBody": {"required": true, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/SignIn"}}, "application/x-www-form-urlencoded": {"schema": {"$ref": "#/components/schemas/SignIn"}}}},
        "responses": {
          "200": {"description": "Signed in", "headers": {"Set-Cookie": {"required": true, "schema": {"type": "string"}}}, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Session"}}}},
          "400": {"$ref": "#/components/responses/Invalid"},
          "401": {"description": "The user name or the password is wrong", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
          "413": {"$ref": "#/components/responses/TooLarge"},
          "429": {"$ref": "#/components/responses/TooMany"},
          "503": {"$ref": "#/components/responses/Unavailable"}
        }
      },
      "get": {
        "summary": "Who is signed in, with the session's CSRF value",
        "operationId": "getSession",
        "security": [{"session": []}],
        "responses": {
          "200": {"description": "The session", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Session"}}}},
          "401": {"description": "Nobody is signed in, or the session has ended", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
          "404": {"description": "A token has no session", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
          "429": {"$ref": "#/components/responses/TooMany"}
        }
      },
      "delete": {
        "summary": "Signs out",
        "operationId": "signOut",
        "security": [{"session": []}],
        "responses": {
          "204": {"description": "Signed out; the cookie is cleared"},
          "401": {"description": "The session has ended", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
          "403": {"$ref": "#/components/responses/ReadOnly"},
          "404": {"description": "A token has no session", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
          "429": {"$ref": "#/components/responses/TooMany"}
        }
      }
    },
    "/api/v1/users": {
      "get": {
        "summary": "The users with their roles (admin)",
        "operationId": "listUsers",
        "responses": {
          "200": {"description": "By name", "content": {"application/json": {"schema": {"type": "object", "required": ["users"], "properties": {"users": {"type": "array", "items": {"$ref": "#/components/schemas/Account"}}}}}}},
          "401": {"$ref": "#/components/responses/Unauthorized"},
          "403": {"$ref": "#/components/responses/ReadOnly"},
          "429": {"$ref": "#/components/responses/TooMany"},
          "503": {"$ref": "#/components/responses/Unavailable"}
        }
      },
      "post": {
        "summary": "Adds a user; the password is kept as a crypt(3) hash (admin)",
        "operationId": "addUser",
        "requestBody": {"required": true, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/UserInput"}}}},
        "responses": {
          "201": {"description": "Added", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Account"}}}},
          "400": {"$ref": "#/components/responses/Invalid"},
          "401": {"$ref": "#/components/responses/Unauthorized"},
          "403": {"$ref": "#/components/responses/ReadOnly"},
          "409": {"description": "The name is taken", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
          "413": {"$ref": "#/components/responses/TooLarge"},
          "429": {"$ref": "#/components/responses/TooMany"},
          "503": {"$ref": "#/components/responses/Unavailable"}
        }
      }
    },
    "/api/v1/users/{name}": {
      "parameters": [{"name": "name", "in": "path", "required": true, "schema": {"type": "string"}}],
      "patch": {
        "summary": "Changes the user's role, for their open sessions too (admin)",
        "operationId": "changeUserRole",
        "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["role"], "additionalProperties": false, "properties": {"role": {"type": "string", "enum": ["viewer", "operator", "admin"]}}}}}},
        "responses": {
          "200": {"description": "Changed", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Account"}}}},
          "400": {"$ref": "#/components/responses/Invalid"},
          "401": {"$ref": "#/components/responses/Unauthorized"},
          "403": {"$ref": "#/components/responses/ReadOnly"},
          "404": {"description": "No user has this name", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
          "413": {"$ref": "#/components/responses/TooLarge"},
          "429": {"$ref": "#/components/responses/TooMany"},
          "503": {"$ref": "#/components/responses/Unavailable"}
        }
      },
      "delete": {
        "summary": "Removes the user and ends their sessions (admin)",
        "operationId": "removeUser",
        "responses": {
          "204": {"description": "Removed"},
          "401": {"$ref": "#/components/responses/Unauthorized"},
          "403": {"$ref": "#/components/responses/ReadOnly"},
          "404": {"description": "No user has this name", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
          "429": {"$ref": "#/components/responses/TooMany"},
          "503": {"$ref": "#/components/responses/Unavailable"}
        }
      }
    },
    "/api/v1/tokens": {
      "get": {
        "summary": "The tokens with their roles (admin)",
        "operationId": "listTokens",
        "responses": {
          "200": {"description": "By name", "content": {"application/json": {"schema": {"type": "object", "required": ["tokens"], "properties": {"tokens": {"type": "array", "items": {"$ref": "#/components/schemas/Account"}}}}}}},
          "401": {"$ref": "#/components/responses/Unauthorized"},
          "403": {"$ref": "#/components/responses/ReadOnly"},
          "429": {"$ref": "#/components/responses/TooMany"},
          "503": {"$ref": "#/components/responses/Unavailable"}
        }
      },
      "post": {
        "summary": "Makes a token, shown once in this answer (admin)",
        "operationId": "addToken",
        "requestBody": {"required": true, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/TokenInput"}}}},
        "responses": {
          "201": {"description": "Added", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/NewToken"}}}},
          "400": {"$ref": "#/components/responses/Invalid"},
          "401": {"$ref": "#/components/responses/Unauthorized"},
          "403": {"$ref": "#/components/responses/ReadOnly"},
          "409": {"description": "The name is taken", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
          "413": {"$ref": "#/components/responses/TooLarge"},
          "429": {"$ref": "#/components/responses/TooMany"},
          "503": {"$ref": "#/components/responses/Unavailable"}
        }
      }
    },
    "/api/v1/tokens/{name}": {
      "parameters": [{"name": "name", "in": "path", "required": true, "schema": {"type": "string"}}],
      "delete": {
        "summary": "Revokes the token (admin)",
        "operationId": "removeToken",
        "responses": {
          "204": {"description": "Removed"},
          "401": {"$ref": "#/components/responses/Unauthorized"},
          "403": {"$ref": "#/components/responses/ReadOnly"},
          "404": {"description": "No token has this name", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
          "429": {"$ref": "#/components/responses/TooMany"},
          "503": {"$ref": "#/components/responses/Unavailable"}
        }
      }
    },
    "/api/v1/openapi.json": {
      "get": {
        "summary": "This description",
        "operationId": "getOpenApi",
        "security": [],
        "responses": {
          "200": {"description": "OpenAPI 3 description", "content": {"application/json": {"schema": {"type": "object", "required": ["openapi", "info", "paths"], "properties": {"openapi": {"type": "string"}, "info": {"type": "object"}, "paths": {"type": "object"}}}}}},
          "400": {"$ref": "#/components/responses/BadTarget"}
        }
      }
    },
    "/status": {
      "get": {
        "summary": "The status board as an HTML page, under the [Web] login (or a token) when one is set",
        "operationId": "getStatusPage",
        "security": [{}, {"basic": []}, {"bearer": []}],
        "parameters": [{"$ref": "#/components/parameters/Filter"}],
        "responses": {
          "200": {"description": "The board", "content": {"text/html": {"schema": {"type": "string"}}}},
          "400": {"$ref": "#/components/responses/BadTarget"},
          "401": {"$ref": "#/components/responses/LoginNeeded"},
          "429": {"$ref": "#/components/responses/TooMany"}
        }
      }
    },
    "/status.json": {
      "get": {
        "summary": "The status board as JSON: the daemon, the last scan and each site address",
        "operationId": "getStatusJson",
        "security": [{}, {"basic": []}, {"bearer": []}],
        "description": "Each site address on the board, silent ones first. With `limit` or `after`, a page of them by code, and `next` for the page after while more are kept.",
        "parameters": [{"$ref": "#/components/parameters/Filter"}, {"$ref": "#/components/parameters/State"}, {"$ref": "#/components/parameters/Tag"}, {"$ref": "#/components/parameters/Limit"}, {"$ref": "#/components/parameters/After"}, {"name": "history", "in": "query", "required": false, "description": "1 adds each site's 288 five-minute buckets", "schema": {"type": "string", "enum": ["1"]}}],
        "responses": {
          "200": {"description": "The board", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/StatusBoard"}}}},
          "400": {"$ref": "#/components/responses/Invalid"},
          "401": {"$ref": "#/components/responses/LoginNeeded"},
          "429": {"$ref": "#/components/responses/TooMany"}
        }
      }
    },
    "/status/outages.csv": {
      "get": {
        "summary": "The outages that overlap the days from `from` to `to` (default the last 30), as on the admin port",
        "operationId": "getOutagesCsv",
        "security": [{}, {"basic": []}],
        "parameters": [{"name": "from", "in": "query", "required": false, "schema": {"type": "string", "pattern": "^[0-9]{4}-[0-9]{2}-[0-9]{2}$"}}, {"name": "to", "in": "query", "required": false, "schema": {"type": "string", "pattern": "^[0-9]{4}-[0-9]{2}-[0-9]{2}$"}}, {"name": "code", "in": "query", "required": false, "schema": {"type": "string"}}],
        "responses": {
          "200": {"description": "RFC 4180, CR LF, beginning with a UTF-8 byte-order mark", "content": {"text/csv": {"schema": {"type": "string"}}}},
          "400": {"description": "The days or the step cannot be read", "content": {"text/plain": {"schema": {"type": "string"}}}},
          "401": {"$ref": "#/components/responses/LoginNeeded"},
          "404": {"description": "No history is kept ([History] is off)", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
          "429": {"$ref": "#/components/responses/TooMany"}
        }
      }
    },
    "/status/history.csv": {
      "get": {
        "summary": "A site's figures per hour or day, as on the admin port",
        "operationId": "getHistoryCsv",
        "security": [{}, {"basic": []}],
        "parameters": [{"name": "code", "in": "query", "required": false, "schema": {"type": "string"}}, {"name": "from", "in": "query", "required": false, "schema": {"type": "string", "pattern": "^[0-9]{4}-[0-9]{2}-[0-9]{2}$"}}, {"name": "to", "in": "query", "required": false, "schema": {"type": "string", "pattern": "^[0-9]{4}-[0-9]{2}-[0-9]{2}$"}}, {"name": "step", "in": "query", "required": false, "schema": {"type": "string", "enum": ["hour", "day"]}}],
        "responses": {
          "200": {"description": "RFC 4180, CR LF, beginning with a UTF-8 byte-order mark", "content": {"text/csv": {"schema": {"type": "string"}}}},
          "400": {"description": "The days or the step cannot be read", "content": {"text/plain": {"schema": {"type": "string"}}}},
          "401": {"$ref": "#/components/responses/LoginNeeded"},
          "404": {"description": "No history is kept ([History] is off)", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
          "429": {"$ref": "#/components/responses/TooMany"}
        }
      }
    },
    "/metrics": {
      "get": {
        "summary": "The status board in the Prometheus text format 0.0.4",
        "operationId": "getMetrics",
        "security": [{}, {"basic": []}, {"bearer": []}],
        "responses": {
          "200": {"description": "The metrics", "content": {"text/plain": {"schema": {"type": "string"}}}},
          "400": {"$ref": "#/components/responses/BadTarget"},
          "401": {"$ref": "#/components/responses/LoginNeeded"},
          "429": {"$ref": "#/components/responses/TooMany"}
        }
      }
    }
  },
  "components": {
    "securitySchemes": {
      "bearer": {"type": "http", "scheme": "bearer", "description": "A token of vkt-datutil token add"},
      "session": {"type": "apiKey", "in": "cookie", "name": "vkt_session", "description": "The cookie of POST /api/v1/session"},
      "basic": {"type": "http", "scheme": "basic", "description": "[Web] User and Password"}
    },
    "parameters": {
      "Code": {"name": "code", "in": "path", "required": true, "description": "The site's code, percent-encoded", "schema": {"type": "string", "maxLength": 12}},
      "Filter": {"name": "q", "in": "query", "required": false, "description": "Keeps the sites whose code, name or address holds this text (any case)", "schema": {"type": "string"}},
      "State": {"name": "state", "in": "query", "required": false, "description": "Keeps the sites in this state", "schema": {"type": "string", "enum": ["up", "degraded", "down", "unknown"]}},
      "Tag": {"name": "tag", "in": "query", "required": false, "description": "Keeps the sites with this tag (any case)", "schema": {"$ref": "#/components/schemas/Tag"}},
      "Limit": {"name": "limit", "in": "query", "required": false, "description": "Sites per page; every site when left out", "schema": {"type": "integer", "minimum": 1, "maximum": 1000}},
      "After": {"name": "after", "in": "query", "required": false, "description": "The code the page starts after, as `next` carries it", "schema": {"type": "string"}}
    },
    "schemas": {
      "SiteInput": {
        "type": "object",
        "additionalProperties": false,
        "description": "A site's values; null empties a field. Text fields take no control characters and no leading or trailing blanks.",
        "properties": {
          "code": {"type": "string", "minLength": 1, "maxLength": 12, "pattern": "^[^/\\u0000-\\u001f\\u007f]+$", "description": "The site's key: no slash, not . or ..; on PUT and PATCH the path's code or left out"},
          "name": {"type": "string", "nullable": true, "maxLength": 20},
          "address": {"type": "string", "minLength": 1, "maxLength": 255, "description": "A dotted IPv4 address, an IPv6 address, a host name, or tcp://host:port; at most the characters the site table's address column holds (255, or 16 on a table made before it was widened)"},
          "downtime": {"anyOf": [{"type": "integer", "minimum": 0, "maximum": 2147483647}, {"type": "string", "pattern": "^[0-9]{1,10}$"}], "description": "Minutes a site must stay unreachable before it is notified"},
          "email": {"type": "string", "nullable": true, "maxLength": 50, "description": "Required when contactflag is 2"},
          "contactflag": {"anyOf": [{"type": "integer", "nullable": true}, {"type": "string", "nullable": true, "pattern": "^-?[0-9]{1,10}$"}], "description": "2 mail to email, 3 pop-up; anything else or null: no notice"},
          "daemon": {"type": "string", "minLength": 1, "maxLength": 20, "description": "Daemon ID of the VKT row; this daemon's when left out on creation"},
          "tags": {"type": "array", "nullable": true, "items": {"$ref": "#/components/schemas/Tag"}, "description": "The site's whole list of tags, kept in lower case; null or [] for none. PATCH without it keeps the tags, PUT without it clears them"}
        }
      },
      "Tag": {"type": "string", "minLength": 1, "maxLength": 64, "pattern": "^[A-Za-z0-9_.:-]+$", "description": "Letters, digits, _ - . and :"},
      "NextPage": {"type": "string", "description": "The path and query of the page after this one; absent on the last page"},
      "NewSite": {
        "description": "A site's values on creation",
        "allOf": [{"$ref": "#/components/schemas/SiteInput"}],
        "required": ["code", "address", "downtime"]
      },
      "SiteReplacement": {
        "description": "A site's values on PUT: what is left out is emptied",
        "allOf": [{"$ref": "#/components/schemas/SiteInput"}],
        "required": ["address", "downtime"]
      },
      "Site": {
        "type": "object",
        "required": ["code", "name", "address", "downtime", "email", "contactflag", "daemon", "state", "cause", "rtt_ms", "notified", "maintenance", "tags"],
        "properties": {
          "code": {"type": "string"},
          "name": {"type": "string"},
          "address": {"type": "string"},
          "downtime": {"type": "integer"},
          "email": {"type": "string"},
          "contactflag": {"type": "integer", "nullable": true},
          "daemon": {"type": "string", "description": "The first Daemon ID that probes it"},
          "state": {"type": "string", "enum": ["up", "degraded", "down", "unknown"], "description": "What this daemon's last scan saw, as /status.json has it; unknown before it probed the site"},
          "cause": {"type": "string", "nullable": true, "description": "Why the last failed probe failed"},
          "rtt_ms": {"type": "number", "nullable": true, "description": "The last answer's round-trip time in milliseconds"},
          "notified": {"type": "boolean", "description": "A notice of the current outage went out"},
          "maintenance": {"type": "boolean", "description": "A maintenance window holds the site's notices now"},
          "tags": {"type": "array", "items": {"type": "string"}, "description": "The site's tags, in order"},
          "acknowledged": {"$ref": "#/components/schemas/Acknowledgement"},
          "uptime": {"$ref": "#/components/schemas/Uptime"}
        }
      },
      "Acknowledgement": {"type": "object", "required": ["by", "comment", "at"], "description": "Who acknowledged the current outage; absent while nobody did", "properties": {"by": {"type": "string"}, "comment": {"type": "string"}, "at": {"$ref": "#/components/schemas/LocalTime"}}},
      "Uptime": {"type": "object", "required": ["24h", "7d", "30d", "90d", "365d"], "description": "Per cent of each window's covered time the site answered, maintenance left out; only with [History]. Null: no figures yet", "properties": {"24h": {"$ref": "#/components/schemas/Percent"}, "7d": {"$ref": "#/components/schemas/Percent"}, "30d": {"$ref": "#/components/schemas/Percent"}, "90d": {"$ref": "#/components/schemas/Percent"}, "365d": {"$ref": "#/components/schemas/Percent"}}},
      "Percent": {"type": "number", "nullable": true, "minimum": 0, "maximum": 100},
      "LocalTime": {"type": "string", "pattern": "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}$", "description": "yyyy-mm-dd hh:nn:ss, the daemon's local time"},
      "StatusBoard": {
        "type": "object",
        "required": ["daemon", "version", "database_up", "summary", "sites"],
        "properties": {
          "daemon": {"type": "string", "description": "The Daemon ID"},
          "version": {"type": "string"},
          "database_up": {"type": "boolean"},
          "summary": {
            "type": "object",
            "required": ["sites", "answering", "silent", "notified", "last_scan", "last_scan_seconds", "scanning", "scans"],
            "properties": {
              "sites": {"type": "integer", "minimum": 0, "description": "Site addresses on the board"},
              "answering": {"type": "integer", "minimum": 0},
              "silent": {"type": "integer", "minimum": 0},
              "notified": {"type": "integer", "minimum": 0},
              "last_scan": {"type": "string", "nullable": true, "pattern": "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}$", "description": "The end of the last scan; null before the first"},
              "last_scan_seconds": {"type": "number", "minimum": 0},
              "scanning": {"type": "boolean"},
              "scans": {"type": "integer", "minimum": 0}
            }
          },
          "sites": {"type": "array", "items": {"$ref": "#/components/schemas/StatusSite"}},
          "next": {"$ref": "#/components/schemas/NextPage"}
        }
      },
      "StatusSite": {
        "type": "object",
        "description": "One site address on the board",
        "required": ["code", "name", "address", "state", "since", "last_probe", "rtt_ms", "loss", "cause", "notified"],
        "properties": {
          "code": {"type": "string"},
          "name": {"type": "string"},
          "address": {"type": "string"},
          "state": {"type": "string", "enum": ["up", "degraded", "down", "unknown"]},
          "since": {"type": "string", "nullable": true, "pattern": "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}$", "description": "When the state began"},
          "last_probe": {"type": "string", "nullable": true, "pattern": "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}$"},
          "rtt_ms": {"type": "number", "nullable": true, "description": "The last answer's round-trip time, to the microsecond"},
          "loss": {"type": "number", "minimum": 0, "maximum": 1, "description": "Share of the probes of the last 24 hours without an answer"},
          "cause": {"type": "string", "description": "Why the last failed probe failed; empty when none did"},
          "notified": {"type": "boolean"},
          "probed": {"type": "string", "description": "The families probed (a site probed on IPv6 or on both)"},
          "family": {"type": "string", "description": "The family that failed"},
          "acknowledged": {"$ref": "#/components/schemas/Acknowledgement"},
          "maintenance": {"type": "boolean", "enum": [true], "description": "Present while a maintenance window holds the site's notices"},
          "tags": {"type": "array", "items": {"type": "string"}, "description": "The site's tags as the last scan read them; absent when it has none"},
          "group": {"type": "object", "required": ["state", "failed"], "description": "The probe group's verdict", "properties": {"state": {"type": "string", "enum": ["up", "down"]}, "failed": {"type": "integer", "minimum": 0}}},
          "trace": {"$ref": "#/components/schemas/PathTrace"},
          "uptime": {"$ref": "#/components/schemas/Uptime"},
          "history": {
            "type": "object",
            "required": ["bucket_minutes", "rtt_ms", "lost"],
            "description": "With ?history=1: the last 24 hours in buckets, oldest first",
            "properties": {
              "bucket_minutes": {"type": "integer", "minimum": 1},
              "rtt_ms": {"type": "array", "items": {"type": "integer", "nullable": true}},
              "lost": {"type": "array", "items": {"type": "integer", "minimum": 0}}
            }
          }
        }
      },
      "PathTrace": {
        "type": "object",
        "required": ["target", "reached", "last_hop", "last_address", "hops"],
        "description": "The path trace of the current outage ([Alert] Trace)",
        "properties": {
          "target": {"type": "string"},
          "reached": {"type": "boolean"},
          "last_hop": {"type": "integer", "nullable": true},
          "last_address": {"type": "string", "nullable": true},
          "hops": {"type": "array", "items": {"type": "object", "required": ["ttl", "address", "rtt_ms"], "properties": {"ttl": {"type": "integer", "minimum": 1}, "address": {"type": "string", "nullable": true}, "rtt_ms": {"type": "integer", "nullable": true}}}}
        }
      },
      "AckInput": {
        "type": "object",
        "additionalProperties": false,
        "properties": {"comment": {"type": "string", "maxLength": 255, "description": "Free text without control characters"}}
      },
      "MaintenanceInput": {
        "type": "object",
        "additionalProperties": false,
        "required": ["code"],
        "properties": {
          "code": {"type": "string", "maxLength": 30, "description": "A site code (at most 12 characters), * for every site of this Daemon ID, or tag:T for every site with tag T (T at most 26 characters); the window keeps the text as given"},
          "minutes": {"anyOf": [{"type": "integer", "minimum": 1}, {"type": "string"}], "description": "One-off: from now for this many minutes (at most a year); weekly: how long each occurrence lasts (at most a week)"},
          "start": {"type": "string", "description": "One-off instead of minutes: yyyy-mm-dd hh:mm[:ss], the daemon's local time"},
          "end": {"type": "string", "description": "With start: yyyy-mm-dd hh:mm[:ss]"},
          "weekdays": {"anyOf": [{"type": "array", "items": {"type": "string", "enum": ["mon", "tue", "wed", "thu", "fri", "sat", "sun"]}}, {"type": "string"}], "description": "Makes it weekly: a list, or the names comma-separated"},
          "time": {"type": "string", "description": "Weekly: hh:mm[:ss], the daemon's local time of day each occurrence begins"},
          "reason": {"type": "string", "maxLength": 200}
        }
      },
      "Maintenance": {
        "type": "object",
        "required": ["id", "code", "reason", "made_by", "weekly", "weekdays", "time", "minutes", "start", "end", "running"],
        "properties": {
          "id": {"type": "string", "pattern": "^[0-9]{1,18}$", "description": "Digits; text, as it may exceed what a double holds exactly"},
          "code": {"type": "string"},
          "reason": {"type": "string"},
          "made_by": {"type": "string", "description": "The token, the [Web] user, or the address of a request without a login"},
          "weekly": {"type": "boolean"},
          "weekdays": {"type": "array", "items": {"type": "string", "enum": ["mon", "tue", "wed", "thu", "fri", "sat", "sun"]}},
          "time": {"type": "string", "nullable": true, "description": "Weekly: hh:mm each occurrence begins"},
          "minutes": {"type": "integer", "description": "The length of the occurrence shown"},
          "start": {"$ref": "#/components/schemas/LocalTime"},
          "end": {"$ref": "#/components/schemas/LocalTime"},
          "running": {"type": "boolean", "description": "The window holds notices now"}
        }
      },
      "Account": {"type": "object", "required": ["name", "role"], "properties": {"name": {"type": "string"}, "role": {"$ref": "#/components/schemas/Role"}}},
      "NewToken": {"type": "object", "required": ["name", "role", "token"], "properties": {"name": {"type": "string"}, "role": {"$ref": "#/components/schemas/Role"}, "token": {"type": "string", "description": "The token, shown this once; only its hash is kept"}}},
      "Role": {"type": "string", "enum": ["viewer", "operator", "admin"]},
      "UserInput": {"type": "object", "required": ["name", "password", "role"], "additionalProperties": false, "properties": {"name": {"type": "string", "pattern": "^[A-Za-z0-9_.-]{1,30}$"}, "password": {"type": "string", "minLength": 1}, "role": {"$ref": "#/components/schemas/Role"}}},
      "TokenInput": {"type": "object", "required": ["name", "role"], "additionalProperties": false, "properties": {"name": {"type": "string", "pattern": "^[A-Za-z0-9_.-]{1,30}$"}, "role": {"$ref": "#/components/schemas/Role"}}},
      "SignIn": {"type": "object", "required": ["user", "password"], "properties": {"user": {"type": "string"}, "password": {"type": "string"}}},
      "Session": {"type": "object", "required": ["user", "role", "csrf"], "properties": {"user": {"type": "string"}, "role": {"$ref": "#/components/schemas/Role"}, "csrf": {"type": "string", "description": "Repeated in the X-CSRF-Token header of every change made with the session"}}},
      "Error": {
        "type": "object",
        "required": ["error"],
        "properties": {
          "error": {"type": "string"},
          "field": {"type": "string", "description": "The field at fault (of a site, a maintenance window or an acknowledgement)"},
          "role": {"type": "string", "enum": ["viewer", "operator", "admin"], "description": "The role a 403 needed"}
        }
      }
    },
    "responses": {
      "Invalid": {"description": "A value the columns cannot take, a body that is no JSON object of the resource's fields (or holds a NUL byte), a query parameter that is none (`field` names it), or a path or query holding %00", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
      "BadTarget": {"description": "The path or query holds %00", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
      "Unauthorized": {"description": "No valid token", "headers": {"WWW-Authenticate": {"required": true, "schema": {"type": "string"}}}, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
      "LoginNeeded": {"description": "The [Web] login or a token is needed (text); a token that is not valid gets the JSON error", "headers": {"WWW-Authenticate": {"required": true, "schema": {"type": "string"}}}, "content": {"text/plain": {"schema": {"type": "string"}}, "application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
      "ReadOnly": {"description": "The caller's role does not reach this (the answer names the role needed), or a change made with a session lacks its X-CSRF-Token", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
      "NotFound": {"description": "No site has this code", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
      "TooLarge": {"description": "The body is larger than 1 MB", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
      "TooMany": {"description": "Too many failed attempts", "headers": {"Retry-After": {"required": true, "schema": {"type": "integer"}}}, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
      "Unavailable": {"description": "The database cannot be reached", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
      "MethodNotAllowed": {"description": "The path does not take this method; Allow lists those it takes", "headers": {"Allow": {"required": true, "schema": {"type": "string"}}}, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
      "NoSuchPath": {"description": "No path of this description", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}}
    }
  }
})json";

} // namespace

const std::string& OpenApiDocument() {
    static const std::string document = [] {
        nlohmann::json description = nlohmann::json::parse(Description);
        description["info"]["version"] = StatusVersion();
        return JsonText(description);
    }();
    return document;
}
