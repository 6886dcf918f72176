// The bus over the web server's JSON-RPC: one session, declared calls,
// batches of calls in one request.

export const NULL_SESSION = '00000000000000000000000000000000';

// Every call the page makes: [object, method, arguments].
export const Calls = {
	login: (username, password) => ['session', 'login', { username, password }],
	logout: () => ['session', 'destroy', {}],
	apList: () => ['fleet', 'list', { limit: 2000 }],
	apShow: (id) => ['fleet', 'show', { id }],
	apHistory: (id) => ['fleet', 'history', { id, limit: 20 }],
	apTelemetry: (id) => ['fleet', 'telemetry_show', { id }],
	costSeries: (site, radio) => ['fleet', 'telemetry_series', { site, radio }],
	siteSummary: (site) => ['fleet', 'site_summary', { site }],
	apLog: (id) => ['fleet', 'log_show', { id, lines: 100 }],
	rrmCommands: (site, radio) => ['fleet', 'rrm_commands', { site, radio, limit: 50 }],
	model: (object) => [object, 'model', {}],
	approve: (id) => ['fleet', 'approve', { id }],
	reboot: (id) => ['fleet', 'reboot', { id }],
	configSet: (id, config) => ['fleet', 'config_set', { ap: id, config }],
	rolloutStart: (site, version) => ['fleet', 'rollout_start', { site, version }],
};

// A failed call: a JSON-RPC error (code < 0) or a bus status (> 0).
export class CallError extends Error {
	constructor(code, message) {
		super(message);
		this.code = code;
	}
}

let nextId = 1;

function request(session, [object, method, args]) {
	return { jsonrpc: '2.0', id: nextId++, method: 'call', params: [session, object, method, args] };
}

// The answer of one request: the data, or a CallError.
function outcome(answer) {
	if (answer.error)
		return new CallError(answer.error.code, answer.error.message);
	const [status, data] = answer.result;
	if (status !== 0)
		return new CallError(status, (data && data.message) || `bus status ${status}`);
	return data || {};
}

export class Bus {
	constructor(url = '/ubus') {
		this.url = url;
		this.session = NULL_SESSION;
	}

	async post(body) {
		const r = await fetch(this.url, { method: 'POST', headers: { 'Content-Type': 'application/json' },
						 body: JSON.stringify(body) });
		if (!r.ok)
			throw new CallError(-32603, `HTTP ${r.status}`);
		return r.json();
	}

	// One declared call; throws a CallError when it fails.
	async call(c) {
		const got = outcome(await this.post(request(this.session, c)));
		if (got instanceof CallError)
			throw got;
		return got;
	}

	// Several calls in one request; each entry is data or a CallError.
	async batch(list) {
		if (!list.length)
			return [];
		const answers = await this.post(list.map((c) => request(this.session, c)));
		const byId = new Map(answers.map((a) => [a.id, a]));
		const first = nextId - list.length;
		return list.map((_, i) => {
			const a = byId.get(first + i);
			return a ? outcome(a) : new CallError(-32603, 'no answer');
		});
	}

	// The bus objects whose path matches the pattern.
	async objects(pattern) {
		const a = await this.post({ jsonrpc: '2.0', id: nextId++, method: 'list', params: [pattern] });
		return a.result ? Object.keys(a.result).sort() : [];
	}
}
