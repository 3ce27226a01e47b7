// The OpenAPI 3 description of everything the API listener answers.
#pragma once

#include <string>

/// The description as JSON text, served at /api/v1/openapi.json.
const std::string& OpenApiDocument();
