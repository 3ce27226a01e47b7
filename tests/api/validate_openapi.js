// Checks an OpenAPI description with swagger-parser (installed by scripts/setup into build/npm):
// node validate_openapi.js NPM_DIR FILE prints "valid", or the validator's complaint and exits 1.
const [, , npmDir, file] = process.argv;
const SwaggerParser = require(require.resolve('@apidevtools/swagger-parser', { paths: [npmDir] }));
SwaggerParser.validate(file).then(
  () => console.log('valid'),
  (error) => {
    console.error(error.message);
    process.exit(1);
  });
