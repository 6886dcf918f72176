// The site view: log in, then poll the site every few seconds and draw it.
import { Bus, Calls, CallError, NULL_SESSION } from './rpc.js';
import { drawCostPlot, drawRrmGraph } from './charts.js';
import { renderTable, renderDetail, renderCommands } from './views.js';

const POLL_MS = Number(new URLSearchParams(location.search).get('poll')) || 3000;
const TELEMETRY_ROWS = 25;
const $ = (sel) => document.querySelector(sel);

const bus = new Bus();
const state = {
	aps: [], telemetry: new Map(), summaries: new Map(), models: new Map(), costs: new Map(), changes: [], commands: new Map(),
	sort: { key: 'id', desc: false }, filter: '', selected: null, admin: false, timer: null,
	polling: false, again: false,
};
// Render timings for whoever watches the page (the browser tests read them).
window.siteview = { polls: 0, lastRenderMs: 0, firstRenderMs: 0, loginAt: 0 };

function showStatus(text, bad = false) {
	const s = $('#status');
	s.textContent = text;
	s.className = bad ? 'error' : '';
}

async function login(ev) {
	ev.preventDefault();
	$('#login-error').textContent = '';
	window.siteview.loginAt = performance.now();
	try {
		const s = await bus.call(Calls.login($('#username').value, $('#password').value));
		bus.session = s.ubus_rpc_session;
		const fleet = (s.acls && s.acls.ubus && s.acls.ubus.fleet) || [];
		state.admin = fleet.includes('approve');
		document.body.classList.toggle('admin', state.admin);
		$('#whoami').textContent = `${s.data.username} (${state.admin ? 'admin' : 'read-only'})`;
		$('#login-view').hidden = true;
		$('#site-view').hidden = false;
		$('#logout').hidden = false;
		await poll();
	} catch (e) {
		$('#login-error').textContent = e instanceof CallError && e.code === 6 ? 'Wrong user or password' : e.message;
	}
}

async function logout() {
	clearTimeout(state.timer);
	try {
		await bus.call(Calls.logout());
	} catch (e) {
		// The session may have ended already.
	}
	bus.session = NULL_SESSION;
	location.reload();
}

function noteChanges(object, before, after) {
	if (!before)
		return;
	const old = new Map((before.ap_list || []).map((n) => [n.id, n]));
	const now = new Date().toLocaleTimeString();
	for (const n of after.ap_list || []) {
		const o = old.get(n.id);
		if (o && o.channel !== n.channel)
			state.changes.unshift(`${now} ${object}: ${n.id} channel ${o.channel} → ${n.channel}`);
		if (o && o.power !== n.power)
			state.changes.unshift(`${now} ${object}: ${n.id} power ${o.power} → ${n.power} dBm`);
	}
	state.changes.length = Math.min(state.changes.length, 20);
}

function keepCost(object, model, series) {
	const points = state.costs.get(object) || [];
	if (series && series.cost && series.cost.length) {
		state.costs.set(object, series.cost);
		return;
	}
	if (model && (!points.length || points[points.length - 1].at !== model.timestamp))
		points.push({ at: model.timestamp, cost: model.cost });
	state.costs.set(object, points.slice(-200));
}

async function pollModels() {
	const objects = await bus.objects('rrm_ctrl.*');
	const calls = objects.flatMap((o) => {
		const [, site, radio] = o.split('.');
		return [Calls.model(o), Calls.costSeries(site, Number(radio)), Calls.rrmCommands(site, Number(radio))];
	});
	const got = await bus.batch(calls);
	objects.forEach((o, i) => {
		const model = got[3 * i] instanceof CallError ? null : got[3 * i];
		const series = got[3 * i + 1] instanceof CallError ? null : got[3 * i + 1];
		state.commands.set(o, got[3 * i + 2]);
		if (model) {
			noteChanges(o, state.models.get(o), model);
			state.models.set(o, model);
		}
		keepCost(o, model, series);
	});
}

async function pollTelemetry(ids) {
	const got = await bus.batch(ids.map((id) => Calls.apTelemetry(id)));
	ids.forEach((id, i) => {
		if (!(got[i] instanceof CallError))
			state.telemetry.set(id, got[i]);
	});
}

// fleetd's count of every site's clients: all its APs, not only the rows shown.
async function pollSummaries() {
	const sites = [...new Set(state.aps.map((a) => a.site).filter(Boolean))].sort();
	const got = await bus.batch(sites.map((site) => Calls.siteSummary(site)));
	state.summaries = new Map();
	sites.forEach((site, i) => {
		if (!(got[i] instanceof CallError))
			state.summaries.set(site, got[i]);
	});
}

// One poll at a time: a poll asked for while one runs follows it at once.
async function poll() {
	if (state.polling) {
		state.again = true;
		return;
	}
	clearTimeout(state.timer);
	state.polling = true;
	let ended = false;
	try {
		await pollOnce();
		window.siteview.polls++;
		showStatus(`updated ${new Date().toLocaleTimeString()}`);
	} catch (e) {
		ended = e instanceof CallError && e.code === -32002;
		showStatus(ended ? 'session ended: log in again' : `update failed: ${e.message}`, true);
	} finally {
		state.polling = false;
	}
	if (ended)
		return;
	state.timer = setTimeout(poll, state.again ? 0 : POLL_MS);
	state.again = false;
}

async function pollOnce() {
	const list = await bus.call(Calls.apList());
	state.aps = list.aps || [];
	$('#ap-total').textContent = `(${list.total ?? state.aps.length})`;
	await pollModels();
	await pollSummaries();
	render();
	await pollTelemetry(renderTable(state, $('#ap-table'), TELEMETRY_ROWS).slice(0, TELEMETRY_ROWS));
	render();
	if (state.selected)
		await showDetail(state.selected, false);
}

function renderSummary() {
	const count = (pred) => state.aps.filter(pred).length;
	$('#count-pending').textContent = count((a) => a.state === 'pending');
	$('#count-adopted').textContent = count((a) => a.state === 'adopted' && a.online);
	$('#count-offline').textContent = count((a) => a.state === 'offline' || (a.state === 'adopted' && !a.online));
	let clients = 0, known = false;
	for (const s of state.summaries.values()) {
		clients += s.clients ?? 0;
		known = known || s.counted > 0;
	}
	$('#count-clients').textContent = known ? clients : '–';
	$('#rrm-costs').replaceChildren(...[...state.models].map(([o, m]) => {
		const d = document.createElement('div');
		d.className = 'card';
		d.dataset.object = o;
		d.innerHTML = `<span class="label"></span><span class="value cost-value"></span>`;
		d.firstChild.textContent = `cost ${o.replace('rrm_ctrl.', '')}`;
		d.lastChild.textContent = m.cost;
		return d;
	}));
}

function renderRrm() {
	const select = $('#rrm-object');
	const objects = [...state.models.keys()];
	if (select.options.length !== objects.length)
		select.replaceChildren(...objects.map((o) => new Option(o, o)));
	const model = state.models.get(select.value || objects[0]);
	$('#rrm-cost').textContent = model ? `cost ${model.cost}` : '';
	drawRrmGraph($('#rrm-graph'), model);
	$('#rrm-changes').replaceChildren(...state.changes.map((c) => Object.assign(document.createElement('li'), { textContent: c })));
	renderCommands(state.commands.get(select.value || objects[0]));
	drawCostPlot($('#cost-plot'), [...state.costs].map(([name, points]) => ({ name, points })));
}

function render() {
	const t0 = performance.now();
	renderSummary();
	renderTable(state, $('#ap-table'), TELEMETRY_ROWS);
	renderRrm();
	const t1 = performance.now();
	window.siteview.lastRenderMs = t1 - t0;
	if (!window.siteview.firstRenderMs)
		window.siteview.firstRenderMs = t1 - window.siteview.loginAt;
}

async function showDetail(id, scroll = true) {
	state.selected = id;
	const [ap, history, telemetry, log] = await bus.batch([Calls.apShow(id), Calls.apHistory(id), Calls.apTelemetry(id),
							       Calls.apLog(id)]);
	renderDetail(id, ap, history, telemetry, log, state);
	$('#detail').hidden = false;
	if (scroll)
		$('#detail').scrollIntoView();
}

// Asks, then makes an admin call and shows what came of it.
function confirmAction(text, withInput) {
	return new Promise((resolve) => {
		const dlg = $('#confirm');
		$('#confirm-text').textContent = text;
		$('#confirm-input').hidden = !withInput;
		$('#confirm-input').value = withInput || '';
		dlg.onclose = () => resolve(dlg.returnValue === 'yes' ? $('#confirm-input').value : null);
		dlg.showModal();
	});
}

const ACTIONS = {
	approve: (id) => ({ text: `Approve ${id}?`, call: () => Calls.approve(id) }),
	reboot: (id) => ({ text: `Reboot ${id}?`, call: () => Calls.reboot(id) }),
	config_set: (id) => ({ text: `Push this configuration to ${id}?`, input: '{"ssid": "office"}',
			      call: (v) => Calls.configSet(id, JSON.parse(v)) }),
	rollout_start: (id) => {
		const ap = state.aps.find((a) => a.id === id);
		return { text: `Start a firmware rollout on site ${ap ? ap.site : '?'} to version:`, input: ap ? ap.fw_version : '',
			 call: (v) => Calls.rolloutStart(ap ? ap.site : '', v.trim()) };
	},
};

async function act(action, id) {
	const a = ACTIONS[action](id);
	const answer = await confirmAction(a.text, a.input);
	if (answer === null)
		return;
	const result = $('#action-result');
	try {
		const r = await bus.call(a.call(answer));
		result.textContent = `${action} ${id}: ${r.message || r.state || 'done'}`;
		result.className = '';
	} catch (e) {
		result.textContent = `${action} ${id} failed: ${e.message}`;
		result.className = 'error';
	}
	await poll();
}

function wire() {
	$('#login-form').addEventListener('submit', login);
	$('#logout').addEventListener('click', logout);
	$('#filter').addEventListener('input', (e) => {
		state.filter = e.target.value.toLowerCase();
		renderTable(state, $('#ap-table'), TELEMETRY_ROWS);
	});
	$('#ap-table thead').addEventListener('click', (e) => {
		const key = e.target.dataset && e.target.dataset.sort;
		if (!key)
			return;
		state.sort = { key, desc: state.sort.key === key ? !state.sort.desc : false };
		renderTable(state, $('#ap-table'), TELEMETRY_ROWS);
	});
	$('#ap-table tbody').addEventListener('click', (e) => {
		const row = e.target.closest('tr');
		const action = e.target.dataset && e.target.dataset.action;
		if (action)
			act(action, row.dataset.id).catch((err) => showStatus(err.message, true));
		else if (row)
			showDetail(row.dataset.id).catch((err) => showStatus(err.message, true));
	});
	$('#detail-actions').addEventListener('click', (e) => {
		const action = e.target.dataset && e.target.dataset.action;
		if (action && state.selected)
			act(action, state.selected).catch((err) => showStatus(err.message, true));
	});
	$('#detail-close').addEventListener('click', () => {
		state.selected = null;
		$('#detail').hidden = true;
	});
	$('#rrm-object').addEventListener('change', renderRrm);
}

wire();
