-- SPDX-License-Identifier: GPL-3.0-or-later
-- Additions: a class on the school's PostgreSQL server, version 4. Run by
-- the administrator, as a superuser, in the class database (the README says
-- how); it stops at its first error, changing nothing, and run again, or
-- over an earlier version, it keeps every answer. No child's name reaches
-- this server: a computer (the role that sent) and a player key only. A
-- computer may only record answers, as itself; a teacher reads, and erases
-- on request, the rows of their own classes only. Everything here belongs to
-- additions_owner, which cannot log in.
\set ON_ERROR_STOP on
SET client_min_messages = warning;

BEGIN;
-- Only the system's own functions and types, whatever a role may have made
-- elsewhere: this runs as a superuser. Nobody makes objects of their own.
SET LOCAL search_path = pg_catalog, pg_temp;
DO $$
DECLARE
    missing text;
    old record;
BEGIN
    IF EXISTS (SELECT FROM pg_namespace WHERE nspname = 'public') THEN
        REVOKE CREATE ON SCHEMA public FROM PUBLIC;
    END IF;
    -- Nor temporary tables or large objects, which no limit of a role
    -- bounds: a computer's password would fill the server's disk.
    EXECUTE format('REVOKE TEMPORARY ON DATABASE %I FROM PUBLIC', current_database());
    REVOKE EXECUTE ON FUNCTION lo_create(oid), lo_creat(integer), lo_from_bytea(oid, bytea)
        FROM PUBLIC;
    FOR missing IN SELECT unnest(ARRAY['additions_owner', 'additions_machine', 'additions_teacher'])
                   EXCEPT SELECT rolname FROM pg_roles LOOP
        EXECUTE format('CREATE ROLE %I NOLOGIN', missing);
    END LOOP;
    -- The policies are made again below, whatever earlier versions named them.
    FOR old IN SELECT policyname, tablename FROM pg_policies WHERE schemaname = 'additions' LOOP
        EXECUTE format('DROP POLICY %I ON additions.%I', old.policyname, old.tablename);
    END LOOP;
END
$$;

CREATE SCHEMA IF NOT EXISTS additions;
GRANT USAGE ON SCHEMA additions TO additions_machine, additions_teacher;

-- What earlier versions had and this one does without.
DROP FUNCTION IF EXISTS additions.notify_classes(name[]), additions.computer_settings(name),
    additions.add_role(name, name, integer, text), additions.add_computer(name, text),
    additions.add_computer(name, text, text), additions.add_teacher(name, text),
    additions.add_teacher(name, text, text);
DROP VIEW IF EXISTS additions.counted, additions.counted_children, additions.counted_recent;
DROP TABLE IF EXISTS additions.schema_version;
DROP INDEX IF EXISTS additions.answers_by_level, additions.answers_in_order;
ALTER TABLE IF EXISTS additions.classes DROP COLUMN IF EXISTS channel;

-- The programs send nothing to a version they do not know.
CREATE OR REPLACE FUNCTION additions.version() RETURNS integer LANGUAGE sql IMMUTABLE AS 'SELECT 4';

-- This database's own identity. A computer that meets another one (the
-- database made again, copied, or restored to an earlier point: the
-- database's and the cluster's ids and the log's timeline are part of it)
-- sends again every answer it holds, which the ids keep once. Started afresh
-- on purpose (a new school year: start_afresh()), it takes only newer ones.
CREATE TABLE IF NOT EXISTS additions.identity (id uuid NOT NULL, fresh_since timestamptz);
CREATE UNIQUE INDEX IF NOT EXISTS identity_one_row ON additions.identity ((true));
INSERT INTO additions.identity (id) SELECT gen_random_uuid()
    WHERE NOT EXISTS (SELECT FROM additions.identity);

-- Each computer (its login role) belongs to one class, and sends at most so
-- many answers and bytes an hour (window_*). Its teachers' views read
-- `changes` every second, and the class again when it moved.
CREATE TABLE IF NOT EXISTS additions.classes (name text PRIMARY KEY);
CREATE TABLE IF NOT EXISTS additions.machines (
    role name PRIMARY KEY, class text NOT NULL REFERENCES additions.classes ON UPDATE CASCADE
);
ALTER TABLE additions.machines
    ADD COLUMN IF NOT EXISTS window_start timestamptz NOT NULL DEFAULT now(),
    ADD COLUMN IF NOT EXISTS window_answers integer NOT NULL DEFAULT 0,
    ADD COLUMN IF NOT EXISTS window_bytes bigint NOT NULL DEFAULT 0,
    ADD COLUMN IF NOT EXISTS changes bigint NOT NULL DEFAULT 0;
CREATE TABLE IF NOT EXISTS additions.teachers (
    role name NOT NULL, class text NOT NULL REFERENCES additions.classes ON UPDATE CASCADE,
    PRIMARY KEY (role, class)
);

-- How many carries the written sum of two whole numbers makes (NULL for
-- anything else): each takes 9 from the sum of the digits.
CREATE OR REPLACE FUNCTION additions.carries(a text, b text) RETURNS integer
LANGUAGE sql IMMUTABLE STRICT SET search_path = pg_catalog, pg_temp
AS $$
    SELECT ((SELECT sum(d::integer) FROM regexp_split_to_table(a || b, '') d) -
            (SELECT sum(d::integer)
             FROM regexp_split_to_table((a::numeric + b::numeric)::text, '') d))::integer / 9
    WHERE a ~ '^[0-9]{1,40}$' AND b ~ '^[0-9]{1,40}$'
$$;

-- One row per answer, its id made on the child's computer: sent twice, it
-- is kept once. Its time is the computer's, set right by how far that clock
-- was from this server's as it sent, or its arrival when the computer could
-- not vouch for it; `received` is the order in which a computer recorded.
CREATE TABLE IF NOT EXISTS additions.answers (
    id uuid PRIMARY KEY, machine name NOT NULL, player text NOT NULL, bound integer NOT NULL,
    first_number text NOT NULL, second_number text NOT NULL, answer text NOT NULL,
    is_right boolean NOT NULL, stake integer NOT NULL, score_after text NOT NULL,
    score_kept boolean, answered_at timestamptz NOT NULL,
    received_at timestamptz NOT NULL DEFAULT now(),
    carries integer GENERATED ALWAYS AS (additions.carries(first_number, second_number)) STORED
);
ALTER TABLE additions.answers
    ADD COLUMN IF NOT EXISTS received bigint GENERATED ALWAYS AS IDENTITY,
    ADD COLUMN IF NOT EXISTS time_trusted boolean NOT NULL DEFAULT true;
CREATE INDEX IF NOT EXISTS answers_by_child ON additions.answers (machine, player, received);

-- What the class view shows of a child, kept as answers arrive or are erased,
-- so that it reads in a moment however many answers the server holds: per
-- level and carries (-1: not two whole numbers); per level the last 20
-- answers, oldest first; and over every level.
CREATE TABLE IF NOT EXISTS additions.totals (
    machine name NOT NULL, player text NOT NULL, bound integer NOT NULL, carries integer NOT NULL,
    answers bigint NOT NULL, right_answers bigint NOT NULL, last_at timestamptz NOT NULL,
    PRIMARY KEY (machine, player, bound, carries)
);
CREATE TABLE IF NOT EXISTS additions.recent (
    machine name NOT NULL, player text NOT NULL, bound integer NOT NULL,
    results boolean[] NOT NULL, PRIMARY KEY (machine, player, bound)
);
CREATE TABLE IF NOT EXISTS additions.children (
    machine name NOT NULL, player text NOT NULL, answers bigint NOT NULL,
    right_answers bigint NOT NULL, last_at timestamptz NOT NULL, PRIMARY KEY (machine, player)
);

-- A child's answers erased on request, and when: those made before, still
-- on their way from the computer, are dropped as they arrive.
CREATE TABLE IF NOT EXISTS additions.erasures (
    machine name NOT NULL, player text NOT NULL, erased_at timestamptz NOT NULL,
    PRIMARY KEY (machine, player)
);

-- The erasures before a new start concern answers it no longer takes.
CREATE OR REPLACE FUNCTION additions.start_afresh() RETURNS void
LANGUAGE sql SET search_path = pg_catalog, pg_temp
BEGIN ATOMIC
    UPDATE additions.identity SET id = gen_random_uuid(), fresh_since = now();
    DELETE FROM additions.erasures;
END;

-- One child's summaries counted again: after an erasure, and by this file.
CREATE OR REPLACE FUNCTION additions.recount(p_machine name, p_player text) RETURNS void
LANGUAGE sql SET search_path = pg_catalog, pg_temp
BEGIN ATOMIC
    DELETE FROM additions.totals WHERE machine = p_machine AND player = p_player;
    DELETE FROM additions.children WHERE machine = p_machine AND player = p_player;
    DELETE FROM additions.recent WHERE machine = p_machine AND player = p_player;
    INSERT INTO additions.totals
        SELECT machine, player, bound, coalesce(carries, -1), count(*),
               count(*) FILTER (WHERE is_right), max(answered_at)
        FROM additions.answers WHERE machine = p_machine AND player = p_player GROUP BY 1, 2, 3, 4;
    INSERT INTO additions.children
        SELECT machine, player, count(*), count(*) FILTER (WHERE is_right), max(answered_at)
        FROM additions.answers WHERE machine = p_machine AND player = p_player GROUP BY 1, 2;
    INSERT INTO additions.recent
        SELECT machine, player, bound, array_agg(is_right ORDER BY received)
        FROM (SELECT machine, player, bound, is_right, received,
                     row_number() OVER (PARTITION BY bound ORDER BY received DESC) AS newer
              FROM additions.answers WHERE machine = p_machine AND player = p_player) a
        WHERE newer <= 20 GROUP BY 1, 2, 3;
END;

-- Answers added are added to the summaries, however many one statement adds;
-- an erased child's are counted again. Either way their teachers hear of it.
CREATE OR REPLACE FUNCTION additions.count_answers() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp
AS $$
BEGIN
    IF TG_OP = 'DELETE' THEN
        PERFORM additions.recount(machine, player) FROM changed GROUP BY machine, player;
        INSERT INTO additions.erasures SELECT DISTINCT machine, player, now() FROM changed
            ON CONFLICT (machine, player) DO UPDATE SET erased_at = excluded.erased_at;
    ELSE
        INSERT INTO additions.totals AS t
            SELECT machine, player, bound, coalesce(carries, -1), count(*),
                   count(*) FILTER (WHERE is_right), max(answered_at)
            FROM changed GROUP BY 1, 2, 3, 4
        ON CONFLICT (machine, player, bound, carries) DO UPDATE
            SET answers = t.answers + excluded.answers,
                right_answers = t.right_answers + excluded.right_answers,
                last_at = greatest(t.last_at, excluded.last_at);
        INSERT INTO additions.children AS c
            SELECT machine, player, count(*), count(*) FILTER (WHERE is_right), max(answered_at)
            FROM changed GROUP BY 1, 2
        ON CONFLICT (machine, player) DO UPDATE
            SET answers = c.answers + excluded.answers,
                right_answers = c.right_answers + excluded.right_answers,
                last_at = greatest(c.last_at, excluded.last_at);
        INSERT INTO additions.recent AS r
            SELECT machine, player, bound, results[greatest(cardinality(results) - 19, 1):]
            FROM (SELECT machine, player, bound, array_agg(is_right ORDER BY received) AS results
                  FROM changed GROUP BY 1, 2, 3) a
        ON CONFLICT (machine, player, bound) DO UPDATE
            SET results = (r.results || excluded.results)
                [greatest(cardinality(r.results) + cardinality(excluded.results) - 19, 1):];
    END IF;
    UPDATE additions.machines SET changes = changes + 1
        WHERE role IN (SELECT DISTINCT machine FROM changed);
    RETURN NULL;
END
$$;
CREATE OR REPLACE TRIGGER answers_counted AFTER INSERT ON additions.answers
    REFERENCING NEW TABLE AS changed FOR EACH STATEMENT EXECUTE FUNCTION additions.count_answers();
CREATE OR REPLACE TRIGGER answers_uncounted AFTER DELETE ON additions.answers
    REFERENCING OLD TABLE AS changed FOR EACH STATEMENT EXECUTE FUNCTION additions.count_answers();
DROP FUNCTION IF EXISTS additions.count_added(), additions.count_removed();

-- What a computer asks as it connects: the database's identity, and the
-- last time one of its children's answers were erased (answers it set aside
-- may now be taken, and those erased are never to be sent again).
CREATE OR REPLACE FUNCTION additions.computer_state(OUT identity text, OUT last_erasure timestamptz)
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp
AS $$
    SELECT concat_ws(':', i.id, d.oid, s.system_identifier, c.timeline_id),
           (SELECT max(erased_at) FROM additions.erasures WHERE machine = session_user)
    FROM additions.identity i, pg_database d, pg_control_system() s, pg_control_checkpoint() c
    WHERE d.datname = current_database()
$$;
CREATE OR REPLACE FUNCTION additions.erased_players()
RETURNS TABLE (player text, erased_at timestamptz)
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp
AS $$ SELECT player, erased_at FROM additions.erasures WHERE machine = session_user $$;

-- The one thing a computer may do: record an answer, as itself. What the
-- game can send, and no more: texts as long as its boxes hold, its levels,
-- a stake a score holds, 200 players; an hour's 10000 answers or 10 MB (a
-- week's outbox of some 100 bytes an answer goes within hours). A lasting
-- refusal is a check_violation, this hour's a configuration_limit_exceeded.
-- A time years off, or to come, is kept as untrusted, at its arrival.
-- Returns 'added', 'known' (sent before), 'erased' (made before its child's
-- answers were erased) or 'earlier' (made before a start afresh).
CREATE OR REPLACE FUNCTION additions.record_answer(
    p_id uuid, p_player text, p_bound integer, p_first text, p_second text, p_answer text,
    p_right boolean, p_stake integer, p_score text, p_kept boolean, p_when timestamptz,
    p_clock timestamptz) RETURNS text
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp
AS $$
DECLARE
    computer additions.machines;
    trusted boolean;
    size bigint := octet_length(p_player) + octet_length(p_first) + octet_length(p_second) +
                   octet_length(p_answer) + octet_length(p_score);
BEGIN
    IF length(p_player) NOT BETWEEN 1 AND 32767 OR greatest(length(p_first), length(p_second),
       length(p_answer), length(p_score)) > 32767 OR p_bound NOT IN (0, 50, 200, 1000, 5000, 10000)
       OR p_stake NOT BETWEEN -32768 AND 32767 OR NOT isfinite(p_when) OR NOT isfinite(p_clock) THEN
        RAISE EXCEPTION 'ce n''est pas une réponse que le jeu envoie'
            USING ERRCODE = 'check_violation';
    END IF;
    -- The computer's clock, set right.
    p_when := p_when + (now() - p_clock);
    trusted := p_when BETWEEN now() - interval '5 years' AND now() + interval '1 minute';
    p_when := CASE WHEN trusted THEN least(p_when, now()) ELSE now() END;
    IF p_when < (SELECT fresh_since FROM additions.identity) THEN
        RETURN 'earlier';
    END IF;
    SELECT * INTO computer FROM additions.machines WHERE role = session_user FOR UPDATE;
    IF NOT FOUND THEN
        RAISE EXCEPTION 'l''ordinateur % n''est dans aucune classe', session_user
            USING ERRCODE = 'insufficient_privilege';
    END IF;
    IF computer.window_start <= now() - interval '1 hour' THEN
        computer.window_start := now();
        computer.window_answers := 0;
        computer.window_bytes := 0;
    END IF;
    IF computer.window_answers >= 10000 THEN
        RAISE EXCEPTION 'trop de réponses de % en une heure (10000 au plus)', session_user
            USING ERRCODE = 'configuration_limit_exceeded';
    ELSIF computer.window_bytes + size > 10000000 THEN
        RAISE EXCEPTION 'trop de données de % en une heure (10 Mo au plus)', session_user
            USING ERRCODE = 'configuration_limit_exceeded';
    END IF;
    UPDATE additions.machines SET window_start = computer.window_start,
        window_answers = computer.window_answers + 1, window_bytes = computer.window_bytes + size
        WHERE role = session_user;
    IF NOT EXISTS (SELECT FROM additions.recent WHERE machine = session_user AND player = p_player)
       AND (SELECT count(DISTINCT player) FROM additions.recent WHERE machine = session_user)
           >= 200 THEN
        RAISE EXCEPTION 'trop de joueurs sur % (200 au plus)', session_user
            USING ERRCODE = 'check_violation';
    END IF;
    -- An erasure on request wins over a time that cannot be placed.
    IF EXISTS (SELECT FROM additions.erasures WHERE machine = session_user AND player = p_player
               AND (erased_at >= p_when OR NOT trusted)) THEN
        RETURN 'erased';
    END IF;
    INSERT INTO additions.answers (id, machine, player, bound, first_number, second_number,
                                   answer, is_right, stake, score_after, score_kept,
                                   answered_at, time_trusted)
    VALUES (p_id, session_user, p_player, p_bound, p_first, p_second, p_answer, p_right,
            p_stake, p_score, p_kept, p_when, trusted)
    ON CONFLICT (id) DO NOTHING;
    RETURN CASE WHEN FOUND THEN 'added' ELSE 'known' END;
END
$$;

-- As the first version of the game sent them, without its clock: true when
-- the answer is new.
CREATE OR REPLACE FUNCTION additions.record_answer(
    p_id uuid, p_player text, p_bound integer, p_first text, p_second text, p_answer text,
    p_right boolean, p_stake integer, p_score text, p_kept boolean, p_when timestamptz)
RETURNS boolean
LANGUAGE sql SET search_path = pg_catalog, pg_temp
RETURN additions.record_answer(p_id, p_player, p_bound, p_first, p_second, p_answer, p_right,
                               p_stake, p_score, p_kept, p_when, now()) = 'added';

-- A computer of a class, or a teacher of one, with the password given or
-- one the server makes (122 random bits; a password typed stays in psql's
-- history) and returns once; run again, a new password. A few connections
-- each, so that one stolen password cannot take the others' places. A
-- computer's connection that it forgot (a crash, a network cut) ends after
-- five idle minutes; not a teacher's, whose view stays open for hours.
CREATE OR REPLACE FUNCTION additions.role_limits(p_role name, p_group name) RETURNS void
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp
AS $$
BEGIN
    EXECUTE format('ALTER ROLE %I CONNECTION LIMIT %s', p_role,
                   CASE p_group WHEN 'additions_machine' THEN 3 ELSE 4 END);
    IF p_group = 'additions_machine' THEN
        EXECUTE format('ALTER ROLE %I SET idle_session_timeout = ''5min''', p_role);
    END IF;
END
$$;
CREATE OR REPLACE FUNCTION additions.add_role(p_role name, p_group name, p_password text)
RETURNS text
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp
AS $$
DECLARE
    made text := coalesce(p_password, replace(gen_random_uuid()::text, '-', ''));
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = p_role) THEN
        EXECUTE format('CREATE ROLE %I LOGIN IN ROLE %I', p_role, p_group);
    ELSIF (SELECT rolsuper FROM pg_roles WHERE rolname = p_role)
          OR NOT pg_has_role(p_role, p_group, 'MEMBER') THEN
        -- Another role's password is not ours to change.
        RAISE EXCEPTION 'le rôle % existe déjà, et n''est pas %', p_role,
            CASE p_group WHEN 'additions_machine' THEN 'un ordinateur de classe'
            ELSE 'un enseignant' END
            USING ERRCODE = 'duplicate_object';
    END IF;
    EXECUTE format('ALTER ROLE %I LOGIN PASSWORD %L', p_role, made);
    PERFORM additions.role_limits(p_role, p_group);
    RETURN made;
END
$$;

-- A computer's answers go with it: moving it to another class is said, by
-- additions.move_computer(), never done in passing.
CREATE OR REPLACE FUNCTION additions.add_computer(p_role name, p_class text,
                                                  p_password text DEFAULT NULL) RETURNS text
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp
AS $$
DECLARE
    current text := (SELECT class FROM additions.machines WHERE role = p_role);
BEGIN
    IF current <> p_class THEN
        RAISE EXCEPTION 'l''ordinateur % est dans la classe « % » : '
            'additions.move_computer(''%'', ''%'') l''y fait passer, avec ses réponses',
            p_role, current, p_role, p_class USING ERRCODE = 'unique_violation';
    END IF;
    INSERT INTO additions.classes (name) VALUES (p_class) ON CONFLICT DO NOTHING;
    INSERT INTO additions.machines (role, class) VALUES (p_role, p_class)
        ON CONFLICT (role) DO NOTHING;
    RETURN additions.add_role(p_role, 'additions_machine', p_password);
END
$$;
CREATE OR REPLACE FUNCTION additions.move_computer(p_role name, p_class text) RETURNS void
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp
AS $$
BEGIN
    -- A class mistyped would hide the computer from its teachers.
    IF NOT EXISTS (SELECT FROM additions.classes WHERE name = p_class) THEN
        RAISE EXCEPTION 'la classe « % » n''existe pas : additions.add_teacher() la crée avec son '
            'enseignant', p_class USING ERRCODE = 'no_data_found';
    END IF;
    UPDATE additions.machines SET class = p_class WHERE role = p_role;
    IF NOT FOUND THEN
        RAISE EXCEPTION 'l''ordinateur % n''est dans aucune classe : '
            'additions.add_computer(''%'', ''%'') l''y ajoute', p_role, p_role, p_class
            USING ERRCODE = 'no_data_found';
    END IF;
END
$$;
CREATE OR REPLACE FUNCTION additions.add_teacher(p_role name, p_class text,
                                                 p_password text DEFAULT NULL) RETURNS text
LANGUAGE sql SET search_path = pg_catalog, pg_temp
BEGIN ATOMIC
    INSERT INTO additions.classes (name) VALUES (p_class) ON CONFLICT DO NOTHING;
    INSERT INTO additions.teachers VALUES (p_role, p_class) ON CONFLICT DO NOTHING;
    SELECT additions.add_role(p_role, 'additions_teacher', p_password);
END;

-- Rights: nothing to anyone but through record_answer() and the policies
-- below. A teacher sees the rows of their own classes only, in every table.
CREATE OR REPLACE FUNCTION additions.taught_machines() RETURNS SETOF name
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp
AS $$
    SELECT m.role FROM additions.machines m JOIN additions.teachers t ON t.class = m.class
    WHERE t.role = session_user
$$;
REVOKE ALL ON ALL TABLES IN SCHEMA additions FROM PUBLIC, additions_machine, additions_teacher;
REVOKE ALL ON ALL FUNCTIONS IN SCHEMA additions FROM PUBLIC;
GRANT SELECT ON additions.classes, additions.machines, additions.teachers, additions.totals,
                additions.children, additions.recent TO additions_teacher;
GRANT SELECT, DELETE ON additions.answers TO additions_teacher;
GRANT EXECUTE ON FUNCTION additions.version TO additions_machine, additions_teacher;
GRANT EXECUTE ON FUNCTION additions.computer_state, additions.erased_players TO additions_machine;
GRANT EXECUTE ON FUNCTION additions.taught_machines TO additions_teacher;
GRANT EXECUTE ON FUNCTION
    additions.record_answer(uuid, text, integer, text, text, text, boolean, integer, text, boolean,
                            timestamptz, timestamptz),
    additions.record_answer(uuid, text, integer, text, text, text, boolean, integer, text, boolean,
                            timestamptz) TO additions_machine;

-- What a teacher may do to those rows is what they were granted above.
CREATE POLICY teacher_rows ON additions.answers FOR ALL TO additions_teacher
    USING (machine IN (SELECT additions.taught_machines()));
CREATE POLICY teacher_select ON additions.totals FOR SELECT TO additions_teacher
    USING (machine IN (SELECT additions.taught_machines()));
CREATE POLICY teacher_select ON additions.children FOR SELECT TO additions_teacher
    USING (machine IN (SELECT additions.taught_machines()));
CREATE POLICY teacher_select ON additions.recent FOR SELECT TO additions_teacher
    USING (machine IN (SELECT additions.taught_machines()));
CREATE POLICY teacher_select ON additions.machines FOR SELECT TO additions_teacher
    USING (role IN (SELECT additions.taught_machines()));
CREATE POLICY teacher_select ON additions.teachers FOR SELECT TO additions_teacher
    USING (role = current_user);
CREATE POLICY teacher_select ON additions.classes FOR SELECT TO additions_teacher
    USING (name IN (SELECT class FROM additions.teachers));

-- Everything belongs to a role that cannot log in: the functions that run
-- as their owner run as it, never as a superuser. Every table's rows are
-- only those its policies give. The roles added by hand, or by an earlier
-- version, get limits where they have none; the summaries are counted again.
DO $$
DECLARE
    change text;
BEGIN
    ALTER SCHEMA additions OWNER TO additions_owner;
    FOR change IN SELECT format('ALTER TABLE %s OWNER TO additions_owner, ENABLE ROW LEVEL '
                                'SECURITY', oid::regclass)
                  FROM pg_class WHERE relnamespace = 'additions'::regnamespace AND relkind = 'r'
                  UNION ALL SELECT format('ALTER FUNCTION %s OWNER TO additions_owner',
                                          oid::regprocedure)
                  FROM pg_proc WHERE pronamespace = 'additions'::regnamespace LOOP
        EXECUTE change;
    END LOOP;
    PERFORM additions.role_limits(r.rolname, g.rolname) FROM pg_auth_members a
        JOIN pg_roles r ON r.oid = a.member JOIN pg_roles g ON g.oid = a.roleid
        WHERE g.rolname IN ('additions_machine', 'additions_teacher') AND r.rolconnlimit = -1;
    TRUNCATE additions.totals, additions.children, additions.recent;
    PERFORM additions.recount(machine, player) FROM additions.answers GROUP BY machine, player;
END
$$;

COMMIT;
