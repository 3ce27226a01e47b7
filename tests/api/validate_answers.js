// Checks answers the API really gave against its OpenAPI description, with ajv (both installed by
// scripts/setup into build/npm): node validate_answers.js NPM_DIR DESCRIPTION ANSWERS prints "valid",
// or one line per answer the description does not allow and exits 1. ANSWERS is a JSON array of
// {method, path (as sent, with its query), status, headers: {lower-case name: value}, body, request}.
// A request the server took (2xx) must also fit the operation's request body: the description may
// not be stricter than the server.
const [, , npmDir, descriptionFile, answersFile] = process.argv;
const load = (name) => require(require.resolve(name, { paths: [npmDir] }));
const SwaggerParser = load('@apidevtools/swagger-parser');
const Ajv = load('ajv');
const fs = require('fs');

const ajv = new Ajv({ strict: false, allErrors: true });

function operationOf(description, method, path) {
  for (const [template, item] of Object.entries(description.paths)) {
    const pattern = template.replace(/[.*+?^$()|[\]\\]/g, '\\$&').replace(/\{[^}]+\}/g, '[^/]+');
    if (new RegExp(`^${pattern}$`).test(path))
      return { template, operation: item[method === 'head' ? 'get' : method] };
  }
  return { template: null, operation: null };
}

function schemaProblems(schema, value) {
  const validate = ajv.compile(schema);
  return validate(value) ? [] : validate.errors.map((e) => `${e.instancePath || '/'} ${e.message}`);
}

// What is wrong with one answer; none when the description allows it.
function problemsOf(description, answer) {
  const method = answer.method.toLowerCase();
  const path = answer.path.split('?')[0];
  const { template, operation } = operationOf(description, method, path);
  const responses = description.components.responses;
  let response;
  if (!template) {
    if (answer.status !== 404) return [`a path not described answered ${answer.status}, not 404`];
    response = responses.NoSuchPath;
  } else if (!operation) {
    if (answer.status !== 405) return [`a method ${template} does not take answered ${answer.status}, not 405`];
    response = responses.MethodNotAllowed;
  } else {
    response = operation.responses[String(answer.status)];
    if (!response) return [`status ${answer.status} is not described for ${method} ${template}`];
  }
  const problems = [];
  for (const [name, header] of Object.entries(response.headers || {}))
    if (header.required && !(name.toLowerCase() in answer.headers)) problems.push(`no ${name} header`);
  const type = (answer.headers['content-type'] || '').split(';')[0].trim();
  const content = response.content || {};
  if (Object.keys(content).length === 0) {
    if (answer.body !== '' && method !== 'head') problems.push('a body where the description has none');
  } else if (!content[type]) {
    problems.push(`content type "${type}" is not described`);
  } else if (method !== 'head') {
    let body = answer.body;
    if (type === 'application/json') {
      try {
        body = JSON.parse(body);
      } catch (e) {
        return [...problems, `the body is no JSON: ${e.message}`];
      }
    }
    problems.push(...schemaProblems(content[type].schema, body));
  }
  const taken = answer.status >= 200 && answer.status < 300;
  const requestSchema = operation?.requestBody?.content?.['application/json']?.schema;
  if (taken && requestSchema && answer.request)
    problems.push(...schemaProblems(requestSchema, JSON.parse(answer.request)).map((p) => `request ${p}`));
  return problems;
}

SwaggerParser.dereference(descriptionFile).then(
  (description) => {
    const answers = JSON.parse(fs.readFileSync(answersFile, 'utf8'));
    let valid = true;
    for (const answer of answers)
      for (const problem of problemsOf(description, answer)) {
        console.log(`${answer.method} ${answer.path} ${answer.status}: ${problem}`);
        valid = false;
      }
    if (valid) console.log('valid');
    process.exit(valid ? 0 : 1);
  },
  (error) => {
    console.log(error.message);
    process.exit(1);
  });
